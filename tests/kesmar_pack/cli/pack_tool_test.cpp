// kesmar-pack's commands on real files: exit codes, the one-line reasons, and what extract leaves behind.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <sstream>

#include "builder/build_payload.h"
#include "tests/fakes/fake_file_system.h"
#include "tests/support/payload_helpers.h"
#include "tests/support/pe_image.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tool_runner.h"
#include "kesmar_pack/commands/launcher_check.h"
#include "kesmar_pack/commands/pack_input.h"
#include "kesmar_pack/cli/pack_tool.h"

namespace kesmar::testing {
namespace {

template <typename T>
std::vector<T> Concatenated(std::vector<T> a, const std::vector<T>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// No progress line here: the end-to-end test sees it on a terminal.
ToolRun Tool(const std::vector<std::string>& args) { return RunTool(args); }

const Bytes kSetup = ProgramImage();  // 312 bytes
// A stand-in launcher stub written as `dir`/stub.exe; returns its path.
std::string WriteStub(const TempDir& dir) {
  const std::vector<uint8_t> stub = LauncherStubImage();
  dir.Write("stub.exe", std::string(stub.begin(), stub.end()));
  return (dir.path() / "stub.exe").string();
}

const std::string kBareHint = "kesmar-pack: with no command it packs ./finst; kesmar-pack --help lists the commands";

Bytes GoodStream() { return RecordStream({{"a.txt", "abc"}, {"KesmarSetup.exe", kSetup}}); }

// Files that list, verify and extract are given, each with what they must make of it.
struct Input {
  const char* what;
  Bytes content;
  int list;     // exit codes
  int verify;
  int extract;
  std::string reason;  // what verify says after "FILE: "
};

std::vector<Input> Inputs() {
  const Bytes good = Container(GoodStream());
  Bytes badProperties = good;
  badProperties[4] = char(225);
  Bytes pastEnd = RecordStream({{"a.txt", "abc"}, {"KesmarSetup.exe", kSetup}});
  pastEnd[262] = char(0x40);  // the second record claims 320 bytes, not its 312
  Bytes noZero = GoodStream();
  noZero.replace(4, 255, Bytes(255, 'n'));
  return {
      {"good container", good, 0, 0, 0, "OK, 2 records, 833 bytes, KesmarSetup.exe present"},
      {"launcher", PeImage(good), 0, 0, 0, "OK, 2 records, 833 bytes, KesmarSetup.exe present"},
      {"x64 setup program", Container(RecordStream({{"KesmarSetup.exe", ProgramImage(0x8664, 0x22)}})), 0, 0,
       0, "OK, 1 record, 571 bytes, KesmarSetup.exe present"},
      {"no setup program", Container(RecordStream({{"a.txt", "abc"}})), 0, 1, 0,
       "no KesmarSetup.exe (the launcher would have nothing to start)"},
      {"setup program in other letter case",
       Container(RecordStream({{"kesmarsetup.exe", kSetup}})), 0, 1, 0,
       "no KesmarSetup.exe, only kesmarsetup.exe (the launcher looks for the name exactly as written, "
       "letter case included)"},
      {"setup program is text", Container(RecordStream({{"KesmarSetup.exe", "echo setup"}})), 0, 1, 0,
       "KesmarSetup.exe is not a Windows program for x86 or x64: it does not start with \"MZ\""},
      {"setup program for ARM64", Container(RecordStream({{"KesmarSetup.exe", ProgramImage(0xAA64)}})), 0, 1,
       0, "KesmarSetup.exe is not a Windows program for x86 or x64: made for machine type 0xAA64"},
      {"setup program is a DLL", Container(RecordStream({{"KesmarSetup.exe", ProgramImage(0x14C, 0x2102)}})),
       0, 1, 0, "KesmarSetup.exe is not a Windows program for x86 or x64: a DLL"},
      {"setup program cut short", Container(RecordStream({{"KesmarSetup.exe", kSetup.substr(0, 80)}})), 0, 1,
       0, "KesmarSetup.exe is not a Windows program for x86 or x64: PE header cut short"},
      {"too short", good.substr(0, 5), 1, 1, 1,
       "too short for a payload container (5 bytes, at least 9 needed)"},
      {"LZMA data under 5 bytes", good.substr(0, 12), 1, 1, 1,
       "too short for a payload container (LZMA data of 3 bytes, at least 5 needed)"},
      {"bad properties byte", badProperties, 1, 1, 1,
       "neither a launcher nor a payload container: LZMA properties byte 0xE1 is out of range"},
      {"truncated stream", good.substr(0, good.size() - 4), 1, 1, 1,
       "LZMA data ends before the declared 833 bytes (truncated?)"},
      {"record past the end", Container(pastEnd), 1, 1, 1,
       "record 2 at offset 262: data of 320 bytes runs past the end (the stream has 833 bytes)"},
      {"name without a zero byte", Container(noZero), 1, 1, 1,
       "record 1 at offset 0: name field has no zero byte"},
      {"name climbing out", Container(RecordStream({{"..\\x", "1"}, {"KesmarSetup.exe", kSetup}})), 0, 1, 1,
       "record 1 at offset 0: name \"..\\x\": path separator in name"},
      {"device name", Container(RecordStream({{"KesmarSetup.exe", kSetup}, {"con", "1"}})), 0, 1, 1,
       "record 2 at offset 571: name \"con\": reserved device name"},
      {"name with a slash", Container(RecordStream({{"KesmarSetup.exe", kSetup}, {"d/x", "1"}})), 0, 1, 1,
       "record 2 at offset 571: name \"d/x\": path separator in name"},
      {"names one file on Windows", Container(RecordStream({{"KesmarSetup.exe", kSetup}, {"A.txt", "1"},
                                                             {"a.TXT", "2"}})), 0, 1, 1,
       "record 3 at offset 831: name \"a.TXT\" is also record 2's (\"A.txt\") on Windows; "
       "one file would replace the other"},
      {"same name twice", Container(RecordStream({{"KesmarSetup.exe", kSetup}, {"a.txt", "1"}, {"a.txt", "2"}})), 0,
       1, 1, "record 3 at offset 831: name \"a.txt\" is also record 2's (\"a.txt\") on Windows; one file would replace "
       "the other"},
      {"PE file without the resource", PeImage(good, "RCDATA"), 1, 1, 1,
       "a PE file but no launcher payload: no resource of type \"RAW\""},
      {"launcher with a damaged payload", PeImage(badProperties), 1, 1, 1,
       "not a payload resource: LZMA properties byte 0xE1 is out of range"},
      {"text file", "just some text, no payload here\n", 1, 1, 1,
       "neither a launcher nor a payload container: LZMA data is corrupt"},
      {"empty file", "", 1, 1, 1, "too short for a payload container (0 bytes, at least 9 needed)"},
  };
}

TEST(PackTool, ListVerifyExtractOnEveryKindOfInput) {
  for (const Input& input : Inputs()) {
    TempDir dir;
    dir.Write("input", input.content);
    const std::string file = (dir.path() / "input").string();
    const std::string folder = (dir.path() / "out").string();

    const ToolRun list = Tool({"list", file});
    EXPECT_EQ(list.code, input.list) << input.what << "\n" << list.err;
    const ToolRun verify = Tool({"verify", file});
    EXPECT_EQ(verify.code, input.verify) << input.what;
    EXPECT_EQ(verify.code == 0 ? verify.out : verify.err, file + ": " + input.reason + "\n") << input.what;
    const ToolRun extract = Tool({"extract", file, folder});
    EXPECT_EQ(extract.code, input.extract) << input.what << "\n" << extract.err;
    if (extract.code != 0) {
      // Refused before anything was written, the folder is not even made.
      EXPECT_FALSE(std::filesystem::exists(folder)) << input.what;
      EXPECT_EQ(std::count(extract.err.begin(), extract.err.end(), '\n'), 1) << input.what;
    }
  }
}

TEST(PackTool, ListShowsNameSizeOffsetAndTotals) {
  TempDir dir;
  const Bytes container = Container(GoodStream());
  dir.Write("datakes.lzma", container);
  dir.Write("launcher.exe", PeImage(container));
  const ToolRun run = Tool({"list", (dir.path() / "datakes.lzma").string()});
  ASSERT_EQ(run.code, 0) << run.err;
  char ratio[16];
  std::snprintf(ratio, sizeof ratio, "%.1f%%", 100.0 * double(container.size()) / 833);
  EXPECT_EQ(run.out,
            "Name                   Size      Offset\n"
            "a.txt                     3           0\n"
            "KesmarSetup.exe         312         262\n"
            "2 records, 315 bytes of data; stream 833 bytes, container " +
                std::to_string(container.size()) + " bytes, ratio " + ratio + "\n");
  const ToolRun fromExe = Tool({"list", (dir.path() / "launcher.exe").string()});
  ASSERT_EQ(fromExe.code, 0) << fromExe.err;
  EXPECT_EQ(fromExe.out, "payload: resource RAW 130, " + std::to_string(container.size()) +
                             " bytes at file offset " + std::to_string(PeLayout::kSectionFile + PeLayout::kData) +
                             "\n" + run.out);
}

TEST(PackTool, ExtractWritesEveryRecordIntoANewOrEmptyFolderOnly) {
  TempDir dir;
  const Bytes stream = RecordStream({{"a.txt", "abc"}, {"empty", ""}, {"KesmarSetup.exe", kSetup}});
  dir.Write("p.lzma", Container(stream));
  const std::string file = (dir.path() / "p.lzma").string();

  const ToolRun first = Tool({"extract", file, (dir.path() / "new" / "deeper").string()});
  ASSERT_EQ(first.code, 0) << first.err;
  EXPECT_EQ(dir.Read("new/deeper/a.txt"), "abc");
  EXPECT_EQ(dir.Read("new/deeper/empty"), "");
  EXPECT_EQ(dir.Read("new/deeper/KesmarSetup.exe"), kSetup);

  std::filesystem::create_directories(dir.path() / "empty_folder");
  EXPECT_EQ(Tool({"extract", file, (dir.path() / "empty_folder").string()}).code, 0);

  // An occupied folder could hold a link named like a record.
  std::filesystem::create_symlink(dir.path() / "victim", dir.path() / "occupied_a.txt");
  std::filesystem::create_directories(dir.path() / "occupied");
  std::filesystem::create_symlink(dir.path() / "victim", dir.path() / "occupied" / "a.txt");
  const std::string occupied = (dir.path() / "occupied").string();
  const ToolRun refused = Tool({"extract", file, occupied});
  EXPECT_EQ(refused.code, 1);
  // Wine lists no Linux link to nothing; creating the file over it fails.
  EXPECT_EQ(refused.err, RunsWindowsTool() ? occupied + "/a.txt: cannot create (File exists)\n"
                                           : occupied + ": is not empty\n");
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "victim"));

  dir.Write("plain", "x");
  const std::string plain = (dir.path() / "plain").string();
  EXPECT_EQ(Tool({"extract", file, plain}).err, plain + ": exists and is not a folder\n");
}

// Every reason a pack fails, as the one line a person sees.
TEST(PackTool, PackSaysWhyInOneLine) {
  struct Case {
    const char* what;
    void (*setUp)(const TempDir&);
    std::vector<std::string> args;
    std::string line;
    bool linuxOnly = false;  // a FIFO, or a device name that Windows opens as the device
  };
  // Windows shows a folder given without a separator with its own.
  const std::string s = RunsWindowsTool() ? "\\" : "/";
  const std::vector<Case> cases = {
      {"no folder", [](const TempDir&) {}, {}, "finst: cannot list folder (No such file or directory)\n" + kBareHint},
      {"folder is a file", [](const TempDir& d) { d.Write("finst", "x"); }, {},
       "finst: cannot list folder (Not a directory)\n" + kBareHint},
      {"empty folder", [](const TempDir& d) { std::filesystem::create_directories(d.path() / "finst"); },
       {}, "finst: no files to pack"},
      {"only empty files", [](const TempDir& d) { d.Write("finst/e", ""); }, {},
       "finst: no files to pack (every file is empty)"},
      {"device name",
       [](const TempDir& d) {
         d.Write("finst/a.txt", "abc");
         d.Write("finst/con", "x");
       },
       {}, "finst" + s + "con: reserved device name"},
      {"colon", [](const TempDir& d) { d.Write("finst/c:x", "x"); }, {},
       "finst" + s + "c:x: character not allowed in a Windows file name"},
      {"backslash", [](const TempDir& d) { d.Write("finst/a\\b", "x"); }, {},
       "finst/a\\b: path separator in name", true},
      {"control character", [](const TempDir& d) { d.Write("finst/a\tb", "x"); }, {},
       "finst" + s + "a\\x09b: control character in name"},
      {"trailing dot", [](const TempDir& d) { d.Write("finst/x.", "x"); }, {},
       "finst" + s + "x.: name ends in a blank or a dot"},
      {"4 GiB file",
       [](const TempDir& d) {
         d.Write("finst/a.txt", "abc");
         d.Write("finst/big.iso", "");
         std::filesystem::resize_file(d.path() / "finst" / "big.iso", uint64_t(1) << 32);  // sparse
       },
       {}, "finst" + s + "big.iso: 4 GiB or larger"},
      {"not a regular file",
       [](const TempDir& d) {
         d.Write("finst/a.txt", "abc");
         ::mkfifo((d.path() / "finst" / "pipe").c_str(), 0600);
       },
       {}, "finst/pipe: cannot open", true},
      {"other folder, trailing slash", [](const TempDir& d) { d.Write("in/aux.txt", "x"); },
       {"pack", "in/"}, "in/aux.txt: reserved device name"},
      // -o is checked before packing: in/con would be refused while packing.
      {"output folder missing", [](const TempDir& d) { d.Write("in/con", "x"); },
       {"pack", "in", "-o", "missing/p.lzma"},
       "missing/p.lzma: cannot be written: folder \"missing\" does not exist"},
      {"output is a folder",
       [](const TempDir& d) {
         d.Write("in/con", "x");
         std::filesystem::create_directories(d.path() / "out.lzma");
       },
       {"pack", "in", "-o", "out.lzma"}, "out.lzma: is a folder; -o takes a file name"},
      {"output names a folder", [](const TempDir& d) { d.Write("in/con", "x"); }, {"pack", "in", "-o", "made/"},
       "made/: names a folder; -o takes a file name"},
      {"output in a file", [](const TempDir& d) { d.Write("in/con", "x"); }, {"pack", "in", "-o", "in/con/x"},
       "in/con/x: cannot be written: \"in/con\" is not a folder", true},
      {"output is a pipe",  // the final rename would put a file in its place
       [](const TempDir& d) {
         d.Write("in/con", "x");
         ::mkfifo((d.path() / "out.fifo").c_str(), 0600);
       },
       {"pack", "in", "-o", "out.fifo"}, "out.fifo: exists and is not a regular file", true},
      {"launcher output folder missing", [](const TempDir& d) { d.Write("in/con", "x"); },
       {"launcher", "in", "-o", "missing/x.exe"},
       "missing/x.exe: cannot be written: folder \"missing\" does not exist"},
      {"subfolders only",
       [](const TempDir& d) {
         std::filesystem::create_directories(d.path() / "finst" / "b");
         std::filesystem::create_directories(d.path() / "finst" / "a");
       },
       {}, "finst" + s + "a: warning: a folder, not packed\nfinst" + s + "b: warning: a folder, not packed\nfinst: no files to pack"},
  };
  for (const Case& c : cases) {
    if (c.linuxOnly && RunsWindowsTool()) continue;
    TempDir dir;
    c.setUp(dir);
    ScopedCurrentDir inside(dir.path());
    const ToolRun run = Tool(c.args);
    EXPECT_EQ(run.code, 1) << c.what;
    EXPECT_EQ(run.err, c.line + "\n") << c.what;
    EXPECT_EQ(run.out, "") << c.what;
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "datakes.lzma")) << c.what;
  }
}

TEST(PackTool, PackAndBareRunMakeTheSameFile) {
  TempDir dir;
  dir.Write("finst/KesmarSetup.exe", kSetup);
  dir.Write("finst/b.txt", "bee");
  ScopedCurrentDir inside(dir.path());
  const ToolRun bare = Tool({});
  EXPECT_EQ(bare.code, 0);
  EXPECT_EQ(bare.out + bare.err, "");
  const ToolRun pack = Tool({"pack", "finst", "-o", "other.lzma"});
  EXPECT_EQ(pack.code, 0) << pack.err;
  EXPECT_EQ(pack.out.rfind("other.lzma: 833 bytes of records packed into ", 0), 0u) << pack.out;
  EXPECT_EQ(dir.Read("other.lzma"), dir.Read("datakes.lzma"));
  EXPECT_EQ(Tool({"verify", "other.lzma"}).code, 0);
}

TEST(PackTool, UsageErrorsExitTwo) {
  const std::vector<std::vector<std::string>> cases = {
      {"bogus"}, {"pack"}, {"pack", "a", "b"}, {"pack", "a", "-o"}, {"pack", "a", "-x"},
      {"pack", "a", "-o", "x", "-o", "y"}, {"list"}, {"list", "a", "b"}, {"verify"},
      {"extract", "a"}, {"extract", "a", "b", "c"},
      {"--help", "x"}, {"--version", "x"}, {"launcher", "d"}, {"launcher", "-o", "x.exe"},
      {"launcher", "d", "--payload", "p", "-o", "x.exe"}, {"launcher", "d", "-o", "x.exe", "--bogus"},
      {"launcher", "d", "e", "-o", "x.exe"}, {"pack", "a", "--codepage", "437"}, {"list", "a", "--codepage"},
      {"launcher", "--payload", "p", "--codepage", "1251", "-o", "x.exe"}, {"launcher", "d", "--payload=p", "-o=x"},
      {"pack", "a", "-o=x"}, {"pack", "a", "--force"}, {"--codepage", "1251"}, {"verify", "a", "--stub", "s"},
      {"pack", "a", "-o", ""}, {"launcher", "d", "--output="},
  };
  // A backslash separates folders on Windows.
  const std::vector<std::vector<std::string>> linuxCases = {{"pack", "a\\b"}, {"pack", "a", "-o", "x\\y"}};
  for (const auto& args : RunsWindowsTool() ? cases : Concatenated(cases, linuxCases)) {
    const ToolRun run = Tool(args);
    EXPECT_EQ(run.code, 2) << args[0];
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << args[0];
    EXPECT_NE(run.err.find("see kesmar-pack --help"), std::string::npos) << args[0];
  }
  EXPECT_EQ(Tool({"--help"}).code, 0);
  EXPECT_EQ(Tool({"--version"}).out, "kesmar-pack 1.1.5.5\n");
}

// kesmar-pack launcher over a stand-in stub: a folder, a container, and what it refuses.
TEST(PackTool, LauncherFromFolderAndPayload) {
  TempDir dir;
  WriteStub(dir);
  dir.Write("finst/KesmarSetup.exe", kSetup);
  dir.Write("finst/a.txt", "abc");
  dir.Write("bad.lzma", "not a container");
  const auto at = [&](const std::string& name) { return (dir.path() / name).string(); };
  struct Case {
    std::vector<std::string> args;
    int code;
    std::string message;  // the start of the one line on stdout (0) or stderr (1)
  };
  const std::vector<Case> cases = {
      {{at("finst"), "-o", at("a.exe")}, 0,
       at("a.exe") + ": launcher, stub " + std::to_string(LauncherStubImage().size()) + " bytes + payload "},
      {{"--payload", at("p.lzma"), "-o", at("b.exe")}, 0, at("b.exe") + ": launcher, stub "},
      {{"--payload", at("bad.lzma"), "-o", at("c.exe")}, 1,
       at("bad.lzma") + ": neither a launcher nor a payload container: LZMA data is corrupt (--force embeds it as it is)"},
      {{"--payload", at("bad.lzma"), "-o", at("c.exe"), "--force"}, 0, at("c.exe") + ": launcher, stub "},
      {{at("finst"), "-o", at("d.exe"), "--stub", at("bad.lzma")}, 1, at("bad.lzma") + ": not a PE file"},
      {{at("missing"), "-o", at("e.exe")}, 1, at("missing") + ": cannot list folder"},
  };
  ASSERT_EQ(Tool({"pack", at("finst"), "-o", at("p.lzma")}).code, 0);
  for (const Case& c : cases) {
    std::vector<std::string> args = {"launcher"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    if (std::find(args.begin(), args.end(), "--stub") == args.end()) {
      args.insert(args.end(), {"--stub", at("stub.exe")});
    }
    const ToolRun run = Tool(args);
    EXPECT_EQ(run.code, c.code) << c.args[0] << run.err;
    EXPECT_EQ((c.code == 0 ? run.out : run.err).rfind(c.message, 0), 0u) << run.out << run.err;
  }
  // The folder packed in place and the container given are the same launcher;
  // list and verify read it, and nothing is left beside it.
  EXPECT_EQ(dir.Read("a.exe"), dir.Read("b.exe"));
  EXPECT_EQ(Tool({"verify", at("a.exe")}).code, 0);
  EXPECT_NE(Tool({"list", at("a.exe")}).out.find("payload: resource RAW 130"), std::string::npos);
  const auto entries = std::distance(std::filesystem::directory_iterator(dir.path()),
                                     std::filesystem::directory_iterator());
  EXPECT_EQ(entries, 7) << "stub, finst, bad.lzma, p.lzma, a.exe, b.exe, c.exe and nothing else";
}


// kesmar-pack launcher DIR over folders whose launcher could never start its
// setup program: refused with one line and nothing written, or with --force
// written all the same.
TEST(PackTool, LauncherRefusesWhatCouldNeverRunUnlessForced) {
  struct Case {
    const char* what;
    std::vector<std::pair<std::string, Bytes>> files;
    std::string line;  // after "DIR: ", before "; --force ..."
  };
  const std::string notAProgram = "KesmarSetup.exe is not a Windows program for x86 or x64: ";
  const std::vector<Case> cases = {
      {"no setup program", {{"a.txt", "abc"}}, "no KesmarSetup.exe (the launcher would have nothing to start)"},
      {"other letter case", {{"kesmarSetup.EXE", kSetup}},
       "no KesmarSetup.exe, only kesmarSetup.EXE (the launcher looks for the name exactly as written, letter "
       "case included)"},
      {"text file", {{"KesmarSetup.exe", "@echo off\r\n"}}, notAProgram + "it does not start with \"MZ\""},
      {"ARM64 program", {{"KesmarSetup.exe", ProgramImage(0xAA64)}}, notAProgram + "made for machine type 0xAA64"},
      {"DLL", {{"KesmarSetup.exe", ProgramImage(0x14C, 0x2102)}}, notAProgram + "a DLL"},
      {"too large", {{"KesmarSetup.exe", kSetup}, {"big.bin", ""}},
       "record stream of " + std::to_string(kLauncherStreamLimit + 2 * 259 + 312 + 1) + " bytes (" +
           std::to_string(kLauncherStreamLimit >> 20) + " MiB) is more than the launcher can extract (at most " +
           kLauncherStreamLimitText + ")"},
  };
  for (const Case& c : cases) {
    TempDir dir;
    const std::string stub = WriteStub(dir);
    for (const auto& [name, content] : c.files) dir.Write("in/" + name, content);
    const bool big = dir.Exists("in/big.bin");
    if (big) std::filesystem::resize_file(dir.path() / "in" / "big.bin", kLauncherStreamLimit + 1);  // sparse
    const std::string in = (dir.path() / "in").string(), exe = (dir.path() / "x.exe").string();
    const std::vector<std::string> args = {"launcher", in, "-o", exe, "--stub", stub};
    const ToolRun refused = Tool(args);
    EXPECT_EQ(refused.code, 1) << c.what;
    EXPECT_EQ(refused.err, in + ": " + c.line + "; --force writes the launcher all the same\n") << c.what;
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2) << c.what << ": stub, in";
    if (big) continue;  // forced, it would pack 1.5 GiB
    std::vector<std::string> forced = args;
    forced.push_back("--force");
    const ToolRun written = Tool(forced);
    EXPECT_EQ(written.code, 0) << c.what << written.err;
    EXPECT_EQ(Tool({"verify", exe}).err, exe + ": " + c.line + "\n") << c.what;
  }
  // The stream is decoded into one block, the container mapped with the exe:
  // each has a limit of its own.
  EXPECT_EQ(PayloadSizeProblem(kLauncherStreamLimit, kLauncherContainerLimit), "");
  EXPECT_NE(PayloadSizeProblem(kLauncherStreamLimit + 1, 0), "");
  EXPECT_NE(PayloadSizeProblem(kLauncherContainerLimit, kLauncherContainerLimit + 1), "");
}

// Run in the folder it packs, twice, kesmar-pack packs neither its output nor
// the temporary files of a run that was killed.
TEST(PackTool, OwnOutputAndTemporaryFilesAreNotPacked) {
  TempDir dir;
  const std::string stub = WriteStub(dir);
  dir.Write("app/KesmarSetup.exe", kSetup);
  dir.Write("app/Setup.exe.payload-Ab12Cd", "left by a killed run");
  dir.Write("app/Setup.exe.tmp", "left by a killed run");
  dir.Write("app/Setup.exe.payload-Ab12Cd.tmp", "left by a killed run");
  dir.Write("app/Setup.exe.payload-toolong", "the author's");
  ScopedCurrentDir inside(dir.path() / "app");
  for (int run = 0; run < 2; ++run) {
    ASSERT_EQ(Tool({"launcher", ".", "-o", "Setup.exe", "--stub", stub}).code, 0);
    ASSERT_EQ(Tool({"pack", ".", "-o", "datakes.lzma"}).code, 0);
  }
  const ToolRun launcher = Tool({"list", "Setup.exe"});
  EXPECT_NE(launcher.out.find("\nKesmarSetup.exe "), std::string::npos);
  EXPECT_NE(launcher.out.find("\nSetup.exe.payload-toolong "), std::string::npos);
  EXPECT_NE(launcher.out.find("\n3 records,"), std::string::npos) << launcher.out << "datakes.lzma and the two";
  // Names older versions wrote under are not packed beside the output, but
  // never touched either.
  EXPECT_EQ(dir.Read("app/Setup.exe.tmp"), "left by a killed run");
  EXPECT_NE(Tool({"list", "datakes.lzma"}).out.find("\n6 records,"), std::string::npos)
      << "all but datakes.lzma itself";
}

// Whatever stands at the output's name, or at the name older versions wrote
// through (OUT.tmp), nothing is written through it: a link's target stays as
// it was, a pipe hangs nothing, and only OUT itself is replaced.
TEST(PackTool, OutputIsWrittenOnlyThroughFilesItCreates) {
  struct Case {
    const char* what;
    const char* at;  // "out" or "out.tmp"
    void (*make)(const std::filesystem::path& at, const std::filesystem::path& victim);
    int code;
  };
  const std::vector<Case> cases = {
      {"link to a victim at OUT.tmp", "out.tmp", [](const auto& at, const auto& v) { create_symlink(v, at); }, 0},
      {"the author's file at OUT.tmp", "out.tmp", [](const auto& at, const auto& v) { copy_file(v, at); }, 0},
      {"pipe at OUT.tmp", "out.tmp", [](const auto& at, const auto&) { ::mkfifo(at.c_str(), 0600); }, 0},
      {"folder at OUT.tmp", "out.tmp", [](const auto& at, const auto&) { create_directory(at); }, 0},
      {"link to a victim at OUT", "out", [](const auto& at, const auto& v) { create_symlink(v, at); }, 0},
      {"pipe at OUT", "out", [](const auto& at, const auto&) { ::mkfifo(at.c_str(), 0600); }, 1},
      {"folder at OUT", "out", [](const auto& at, const auto&) { create_directory(at); }, 1},
  };
  for (const std::string command : {"pack", "launcher"}) {
    for (const Case& c : cases) {
      TempDir dir;
      const std::string stub = WriteStub(dir);
      dir.Write("in/KesmarSetup.exe", kSetup);
      dir.Write("victim", "the victim's own");
      const auto out = dir.path() / "out", at = dir.path() / c.at;
      c.make(at, dir.path() / "victim");
      const auto before = std::filesystem::symlink_status(at).type();
      std::vector<std::string> args = {command, (dir.path() / "in").string(), "-o", out.string()};
      if (command == "launcher") args.insert(args.end(), {"--stub", stub});
      const ToolRun run = Tool(args);
      const std::string what = command + ": " + c.what;
      const bool atTmp = c.at != std::string("out");
      EXPECT_EQ(run.code, c.code) << what << "\n" << run.err;
      EXPECT_EQ(dir.Read("victim"), "the victim's own") << what;
      if (atTmp) {
        EXPECT_EQ(std::filesystem::symlink_status(at).type(), before) << what;
      }
      if (c.code == 0) {
        EXPECT_TRUE(std::filesystem::is_regular_file(std::filesystem::symlink_status(out))) << what;
        EXPECT_EQ(Tool({"verify", out.string()}).code, 0) << what;
      }
      EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}),
                3 + atTmp + (c.code == 0 || !atTmp))
          << what << ": stub, in, victim, out (and out.tmp), nothing more";
    }
  }
}

// An output that names a file the run reads is refused before anything is
// written, --force or not: a file of the folder packed (on Windows in any
// letter case), the stub, the embedded container. An earlier launcher or
// container in the folder is the one file there it replaces.
TEST(PackTool, OutputNeverReplacesAnInput) {
  const std::string packed = ", a file of the folder being packed; kesmar-pack never writes over a file it packs\n";
  const std::string read = "; kesmar-pack never writes over a file it reads\n";
  struct Case {
    std::vector<std::string> args;  // "@" stands for the test's folder, here and in `err`
    std::string err;                // empty: written
  };
  const std::vector<Case> cases = {
      {{"pack", "@/in", "-o", "@/in/\u00dcberblick.txt"}, "@/in/\u00dcberblick.txt: is @/in/\u00dcberblick.txt" + packed},
      {{"launcher", "@/in", "-o", "@/in/KesmarSetup.exe", "--force", "--stub", "@/stub.exe"},
       "@/in/KesmarSetup.exe: is @/in/KesmarSetup.exe" + packed},
      {{"launcher", "@/in", "-o", "@/in/kesmarsetup.exe", "--stub", "@/stub.exe"},
       RunsWindowsTool() ? "@/in/kesmarsetup.exe: is @/in/KesmarSetup.exe" + packed : ""},
      {{"pack", "@/in", "-o", "@/in/old.lzma"}, ""},
      {{"launcher", "@/in", "-o", "@/stub.exe", "--stub", "@/stub.exe"}, "@/stub.exe: is @/stub.exe, the stub" + read},
      {{"launcher", "--payload", "@/p.lzma", "-o", "@/p.lzma", "--stub", "@/stub.exe"},
       "@/p.lzma: is @/p.lzma, the --payload file" + read},
  };
  for (const Case& c : cases) {
    TempDir dir;
    WriteStub(dir);
    dir.Write("in/KesmarSetup.exe", kSetup);
    dir.Write("in/\u00dcberblick.txt", "the readme");
    ASSERT_EQ(Tool({"pack", (dir.path() / "in").string(), "-o", (dir.path() / "p.lzma").string()}).code, 0);
    std::filesystem::copy_file(dir.path() / "p.lzma", dir.path() / "in" / "old.lzma");
    const auto placed = [&](std::string text) {
      for (size_t at = text.find('@'); at != std::string::npos; at = text.find('@', at)) {
        text.replace(at, 1, dir.path().string());
      }
      return text;
    };
    const auto contents = [&] {
      std::map<std::string, std::string> files;
      for (const auto& entry : std::filesystem::recursive_directory_iterator(dir.path())) {
        const std::string name = entry.path().lexically_relative(dir.path()).string();
        if (entry.is_regular_file()) files[name] = dir.Read(name);
      }
      return files;
    };
    const auto before = contents();
    std::vector<std::string> args;
    for (const std::string& arg : c.args) args.push_back(placed(arg));
    const ToolRun run = Tool(args);
    const std::string what = c.args[0] + " -o " + c.args[3 + (c.args[1] == "--payload")];
    EXPECT_EQ(run.code, c.err.empty() ? 0 : 1) << what << "\n" << run.err;
    if (!c.err.empty()) {
      EXPECT_EQ(run.err, placed(c.err)) << what;
      EXPECT_EQ(contents(), before) << what << ": nothing written, nothing replaced";
    }
    EXPECT_EQ(dir.Read("in/KesmarSetup.exe"), kSetup) << what << ": an input replaced";
  }
}

// Every command with paths of more than 260 characters, which Windows'
// plain calls do not reach.
TEST(PackTool, PathsLongerThan260Characters) {
  TempDir dir;
  std::string deep;
  for (char c = 'a'; c < 'g'; ++c) deep += std::string(50, c) + "/";
  dir.Write(deep + "in/KesmarSetup.exe", kSetup);
  dir.Write(deep + "in/a.txt", "abc");
  const std::string stub = WriteStub(dir);
  const std::string at = (dir.path() / deep).string();
  ASSERT_GT(at.size(), 300u);
  // A folder a little short of 260 characters (on Windows, Z: and all), whose
  // files' paths pass it. (Wine takes such paths without the long form, so
  // only Windows itself shows the write probe's need of it.)
  std::string near = dir.path().string() + "/";
  near += std::string(238 - near.size(), 'n') + "/";
  std::filesystem::create_directories(near);
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"pack", at + "in", "-o", near + "p.lzma"},
                                             {"pack", at + "in", "-o", at + "p.lzma"},
                                             {"launcher", at + "in", "--stub", stub, "-o", at + "p.exe"},
                                             {"verify", at + "p.exe"},
                                             {"extract", at + "p.lzma", at + "out"}}) {
    const ToolRun run = Tool(args);
    EXPECT_EQ(run.code, 0) << args[0] << ": " << run.err;
  }
  EXPECT_EQ(dir.Read(deep + "out/a.txt"), "abc");
}

// A file system may list no "." and "..": a folder holding nothing but the
// tool's own output then lists nothing, and has nothing to pack.
TEST(PackTool, FolderListingOnlyOwnFilesWithoutDotsHasNothingToPack) {
  struct Refusals final : BuildObserver {
    std::string said;
    void Refused(const std::string& path, const std::string& reason) override { said += path + ": " + reason; }
    void Compressing(uint64_t, uint64_t) override {}
  } observer;
  TempDir dir;
  dir.Write("in/out.lzma", "an earlier output");  // the folder checks look at the real one
  const std::string in = (dir.path() / "in").string();
  auto fake = std::make_unique<FakeFileSystem>();
  fake->SetListsDots(false);
  fake->AddFolder(in);
  fake->AddFile(in + "\\out.lzma", "an earlier output");
  const auto files = CreatePackInputFileSystem(in + "/out.lzma", {}, std::move(fake));
  EXPECT_FALSE(BuildPayload(*files, in, in + "/out.lzma", &observer));
  EXPECT_EQ(observer.said, in + ": no files to pack");
}

// Two runs with one -o at once: each writes a file of its own, so the output
// is the whole of one of them.
TEST(PackTool, TwoRunsWithOneOutputLeaveOneWholeOutput) {
  TempDir dir;
  std::string noise(4 << 20, '\0');
  for (size_t i = 0; i < noise.size(); ++i) noise[i] = char((i * 2654435761u) >> 13);
  for (const char* folder : {"a", "b"}) {
    dir.Write(std::string(folder) + "/KesmarSetup.exe", kSetup);
    dir.Write(std::string(folder) + "/" + folder + ".bin", noise + folder);
    ASSERT_EQ(Tool({"pack", (dir.path() / folder).string(), "-o", (dir.path() / folder).string() + ".lzma"}).code, 0);
  }
  const std::string out = (dir.path() / "out.lzma").string();
  std::vector<pid_t> children;
  for (const char* folder : {"a", "b"}) {
    const pid_t child = ::fork();
    if (child == 0) {
      std::ostringstream quiet;
      ::_exit(RunKesmarPack({"pack", (dir.path() / folder).string(), "-o", out}, quiet, quiet, false));
    }
    children.push_back(child);
  }
  for (const pid_t child : children) {
    int status = -1;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  }
  const Bytes written = dir.Read("out.lzma");
  EXPECT_TRUE(written == dir.Read("a.lzma") || written == dir.Read("b.lzma"));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 5) << "a, b, both alone, out";
}

// What is packed all the same but may surprise its author: a warning line,
// and the exit code stays 0.
TEST(PackTool, WarningsLeaveTheExitCodeAtZero) {
  const std::string n199(199, 'n'), n200(200, 'o');
  const std::string tooLong = "a name of 200 characters: under a temporary folder of ordinary length (" +
                              std::string(kOrdinaryExtractionFolder) +
                              ", 60 characters) its path has 260, and the launcher fails on a path of 260 or more";
  TempDir dir;
  const std::string stub = WriteStub(dir);
  dir.Write("in/KesmarSetup.exe", kSetup);
  dir.Write("in/old.exe", PeImage(Container(GoodStream())));
  dir.Write("in/old.lzma", Container(GoodStream()));
  dir.Write("long/KesmarSetup.exe", kSetup);
  dir.Write("long/" + n199, "fits");
  dir.Write("long/" + n200, "does not");
  const auto at = [&](const std::string& name) { return (dir.path() / name).string(); };
  const std::string launcherWarning = at("in") + "/old.exe: warning: is a launcher itself; packed all the same\n";
  const std::string containerWarning =
      at("in") + "/old.lzma: warning: is a payload container itself; packed all the same\n";
  const std::string verifyWarning = ": warning: record 3 at offset 834: name \"" + n200 + "\": " + tooLong + "\n";
  struct Case {
    std::vector<std::string> args;
    std::string err;
  };
  const std::vector<Case> cases = {
      {{"pack", at("in"), "-o", at("p.lzma")}, launcherWarning + containerWarning},
      {{"launcher", at("in"), "-o", at("a.exe"), "--stub", stub}, launcherWarning + containerWarning},
      {{"launcher", at("long"), "-o", at("b.exe"), "--stub", stub}, at("long") + "/" + n200 + ": warning: " + tooLong + "\n"},
      {{"pack", at("long"), "-o", at("long.lzma")}, ""},
      {{"verify", at("b.exe")}, at("b.exe") + verifyWarning},
      {{"launcher", "--payload", at("long.lzma"), "-o", at("c.exe"), "--stub", stub}, at("long.lzma") + verifyWarning},
  };
  for (const Case& c : cases) {
    const ToolRun run = Tool(c.args);
    EXPECT_EQ(run.code, 0) << c.args[0] << " " << c.args[1];
    EXPECT_EQ(run.err, c.err) << c.args[0] << " " << c.args[1];
  }
}

// A folder with more than files: each entry not packed is named once, and the
// exit code is that of the files.
TEST(PackTool, SkippedEntriesAreNamedOnce) {
  TempDir dir;
  dir.Write("in/KesmarSetup.exe", kSetup);
  dir.Write("in/sub/x.txt", "x");
  std::filesystem::create_symlink(dir.path() / "nowhere", dir.path() / "in" / "dangling");
  std::filesystem::create_symlink("loop", dir.path() / "in" / "loop");
  const std::string in = (dir.path() / "in").string();
  const ToolRun run = Tool({"pack", in, "-o", (dir.path() / "p.lzma").string()});
  EXPECT_EQ(run.code, 0);
  EXPECT_EQ(run.err, in + "/dangling: warning: a link to nothing, not packed\n" + in +
                         "/loop: warning: cannot be read (Too many levels of symbolic links), not packed\n" + in +
                         "/sub: warning: a folder, not packed\n");
}

// Ctrl-C, a kill, a closed terminal or Ctrl-\ while a launcher is packed: the
// temporary payload beside the output goes, and the output of an earlier run
// stays.
TEST(PackTool, InterruptLeavesNoTemporaryFile) {
  for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
    TempDir dir;
    const std::string stub = WriteStub(dir);
    dir.Write("in/KesmarSetup.exe", kSetup);
    std::string noise(16 << 20, '\0');
    for (size_t i = 0; i < noise.size(); ++i) noise[i] = char((i * 2654435761u) >> 13);
    dir.Write("in/noise.bin", noise);
    dir.Write("out.exe", "the earlier launcher");
    const std::string in = (dir.path() / "in").string(), exe = (dir.path() / "out.exe").string();
    const pid_t child = ::fork();
    if (child == 0) {
      std::ostringstream out, err;
      ::_exit(RunKesmarPack({"launcher", in, "-o", exe, "--stub", stub}, out, err,
                            false));
    }
    ASSERT_GT(child, 0);
    const auto temporaries = [&] {
      std::vector<std::string> names;
      for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        if (entry.path().filename().string().rfind("out.exe.", 0) == 0) names.push_back(entry.path().filename());
      }
      return names;
    };
    for (int wait = 0; wait < 2000 && temporaries().empty(); ++wait) ::usleep(5000);
    EXPECT_EQ(temporaries().size(), 1u) << "the payload is packed beside the output";
    ::kill(child, signal);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << "status " << status;
    EXPECT_EQ(temporaries(), std::vector<std::string>()) << signal;
    EXPECT_EQ(dir.Read("out.exe"), "the earlier launcher");
  }
}

// Every command has its own help, and every long option takes "=value".
TEST(PackTool, HelpForEachCommandAndOptionsWithEquals) {
  for (const std::string command : {"launcher", "pack", "list", "verify", "extract"}) {
    const ToolRun run = Tool({command, "--help"});
    EXPECT_EQ(run.code, 0) << command;
    EXPECT_NE(run.out.find("Usage: kesmar-pack " + command + " "), std::string::npos) << command << run.out;
    EXPECT_EQ(run.err, "") << command;
  }
  EXPECT_NE(Tool({"--help"}).out.find(std::string("at most ") + kLauncherStreamLimitText), std::string::npos);
  // Each build's help speaks of its own system; Windows' "/?" is help there,
  // and a quote kept by a trailing backslash is explained, not taken for a name.
  const std::string help = Tool({"--help"}).out;
  EXPECT_NE(help.find(std::string("launchers on ") + (RunsWindowsTool() ? "Windows" : "Linux")), std::string::npos);
  EXPECT_EQ(help.find("UTF-8 here") == std::string::npos, RunsWindowsTool());
  EXPECT_EQ(help.find("(Linux only) run a launcher under Wine") != std::string::npos, RunsWindowsTool());
  if (RunsWindowsTool()) {
    EXPECT_EQ(Tool({"/?"}).out, help);
    const ToolRun quoted = Tool({"launcher", "my folder\" -o Setup.exe"});
    EXPECT_EQ(quoted.code, 2);
    EXPECT_EQ(quoted.err.rfind("kesmar-pack: the argument 'my folder\" -o Setup.exe' holds a '\"': a backslash before "
                               "a closing quote keeps the quote",
                               0),
              0u)
        << quoted.err;
  }

  TempDir dir;
  const std::string stub = WriteStub(dir);
  dir.Write("in/KesmarSetup.exe", kSetup);
  dir.Write("in/\u0434.txt", "cyrillic");
  const auto at = [&](const std::string& name) { return (dir.path() / name).string(); };
  ASSERT_EQ(Tool({"pack", at("in"), "--codepage=1251", "--output=" + at("p.lzma")}).code, 0);
  EXPECT_EQ(Tool({"pack", at("in"), "--codepage", "1251", "-o", at("q.lzma")}).code, 0);
  EXPECT_EQ(dir.Read("p.lzma"), dir.Read("q.lzma"));
  EXPECT_EQ(Tool({"launcher", "--payload=" + at("p.lzma"), "--stub=" + stub, "--output=" + at("a.exe")}).code,
            0);
  EXPECT_EQ(Tool({"launcher", at("in"), "--codepage=1251", "--stub=" + stub, "-o", at("b.exe")}).code, 0);
  EXPECT_EQ(dir.Read("a.exe"), dir.Read("b.exe"));
  EXPECT_EQ(Tool({"verify", "--codepage=1251", at("a.exe")}).code, 0);
}

}  // namespace
}  // namespace kesmar::testing
