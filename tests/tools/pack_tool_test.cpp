// kesmar-pack's commands on real files: exit codes, the one-line reasons, and what extract leaves behind.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <sstream>

#include "tests/support/payload_helpers.h"
#include "tests/support/pe_image.h"
#include "tests/support/temp_dir.h"
#include "tools/pack_tool.h"

namespace kesmar::testing {
namespace {

struct ToolRun {
  int code;
  std::string out;
  std::string err;
};

ToolRun Tool(const std::vector<std::string>& args) {
  std::ostringstream out, err;
  // No progress line here: the end-to-end test sees it on a terminal.
  const int code = RunKesmarPack(args, out, err, /*showProgress=*/false);
  return {code, out.str(), err.str()};
}

const Bytes kSetup = "MZ setup program";

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
  pastEnd[262] = char(0x40);  // the second record claims more data than follows
  Bytes noZero = GoodStream();
  noZero.replace(4, 255, Bytes(255, 'n'));
  return {
      {"good container", good, 0, 0, 0, "OK, 2 records, 537 bytes, KesmarSetup.exe present"},
      {"launcher", PeImage(good), 0, 0, 0, "OK, 2 records, 537 bytes, KesmarSetup.exe present"},
      {"no setup program", Container(RecordStream({{"a.txt", "abc"}})), 0, 1, 0,
       "no record named KesmarSetup.exe (the launcher would have nothing to start)"},
      {"setup program in other letter case",
       Container(RecordStream({{"kesmarsetup.exe", kSetup}})), 0, 1, 0,
       "no record named KesmarSetup.exe (the launcher would have nothing to start)"},
      {"too short", good.substr(0, 5), 1, 1, 1,
       "too short for a payload container (5 bytes, at least 9 needed)"},
      {"LZMA data under 5 bytes", good.substr(0, 12), 1, 1, 1,
       "too short for a payload container (LZMA data of 3 bytes, at least 5 needed)"},
      {"bad properties byte", badProperties, 1, 1, 1,
       "not a payload container: LZMA properties byte 0xE1 is out of range"},
      {"truncated stream", good.substr(0, good.size() - 4), 1, 1, 1,
       "LZMA data ends before the declared 537 bytes (truncated?)"},
      {"record past the end", Container(pastEnd), 1, 1, 1,
       "record 2 at offset 262: data of 64 bytes runs past the end (the stream has 537 bytes)"},
      {"name without a zero byte", Container(noZero), 1, 1, 1,
       "record 1 at offset 0: name field has no zero byte"},
      {"name climbing out", Container(RecordStream({{"..\\x", "1"}, {"KesmarSetup.exe", kSetup}})), 0, 1, 1,
       "record 1 at offset 0: name \"..\\x\": path separator in name"},
      {"device name", Container(RecordStream({{"KesmarSetup.exe", kSetup}, {"con", "1"}})), 0, 1, 1,
       "record 2 at offset 275: name \"con\": reserved device name"},
      {"name with a slash", Container(RecordStream({{"KesmarSetup.exe", kSetup}, {"d/x", "1"}})), 0, 1, 1,
       "record 2 at offset 275: name \"d/x\": path separator in name"},
      {"names one file on Windows", Container(RecordStream({{"KesmarSetup.exe", kSetup}, {"A.txt", "1"},
                                                             {"a.TXT", "2"}})), 0, 1, 0,
       "record 3 at offset 535: name \"a.TXT\" is also record 2's (\"A.txt\") on Windows; "
       "one file would replace the other"},
      {"PE file without the resource", PeImage(good, "RCDATA"), 1, 1, 1,
       "a PE file but no launcher payload: no resource of type \"RAW\""},
      {"launcher with a damaged payload", PeImage(badProperties), 1, 1, 1,
       "not a payload resource: LZMA properties byte 0xE1 is out of range"},
      {"text file", "just some text, no payload here\n", 1, 1, 1,
       "not a payload container: LZMA data is corrupt"},
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
  std::snprintf(ratio, sizeof ratio, "%.1f%%", 100.0 * double(container.size()) / 537);
  EXPECT_EQ(run.out,
            "Name                   Size      Offset\n"
            "a.txt                     3           0\n"
            "KesmarSetup.exe          16         262\n"
            "2 records, 19 bytes of data; stream 537 bytes, container " +
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
  EXPECT_EQ(refused.err, occupied + ": is not empty\n");
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
  };
  const std::vector<Case> cases = {
      {"no folder", [](const TempDir&) {}, {}, "finst: cannot list folder (No such file or directory)"},
      {"folder is a file", [](const TempDir& d) { d.Write("finst", "x"); }, {},
       "finst: cannot list folder (Not a directory)"},
      {"empty folder", [](const TempDir& d) { std::filesystem::create_directories(d.path() / "finst"); },
       {}, "finst: no files to pack"},
      {"only empty files", [](const TempDir& d) { d.Write("finst/e", ""); }, {},
       "finst: no files to pack (every file is empty)"},
      {"device name",
       [](const TempDir& d) {
         d.Write("finst/a.txt", "abc");
         d.Write("finst/con", "x");
       },
       {}, "finst/con: reserved device name"},
      {"colon", [](const TempDir& d) { d.Write("finst/c:x", "x"); }, {},
       "finst/c:x: character not allowed in a Windows file name"},
      {"backslash", [](const TempDir& d) { d.Write("finst/a\\b", "x"); }, {},
       "finst/a\\b: path separator in name"},
      {"control character", [](const TempDir& d) { d.Write("finst/a\tb", "x"); }, {},
       "finst/a\\x09b: control character in name"},
      {"trailing dot", [](const TempDir& d) { d.Write("finst/x.", "x"); }, {},
       "finst/x.: name ends in a blank or a dot"},
      {"4 GiB file",
       [](const TempDir& d) {
         d.Write("finst/a.txt", "abc");
         d.Write("finst/big.iso", "");
         std::filesystem::resize_file(d.path() / "finst" / "big.iso", uint64_t(1) << 32);  // sparse
       },
       {}, "finst/big.iso: 4 GiB or larger"},
      {"not a regular file",
       [](const TempDir& d) {
         d.Write("finst/a.txt", "abc");
         ::mkfifo((d.path() / "finst" / "pipe").c_str(), 0600);
       },
       {}, "finst/pipe: cannot open"},
      {"other folder, trailing slash", [](const TempDir& d) { d.Write("in/aux.txt", "x"); },
       {"pack", "in/"}, "in/aux.txt: reserved device name"},
      {"output folder missing", [](const TempDir& d) { d.Write("in/a.txt", "abc"); },
       {"pack", "in", "-o", "missing/p.lzma"}, "missing/p.lzma: cannot create (No such file or directory)"},
      {"output is a folder",
       [](const TempDir& d) {
         d.Write("in/a.txt", "abc");
         std::filesystem::create_directories(d.path() / "out.lzma");
       },
       {"pack", "in", "-o", "out.lzma"}, "out.lzma: cannot replace (Is a directory)"},
  };
  for (const Case& c : cases) {
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
  EXPECT_EQ(pack.out.rfind("other.lzma: 537 bytes of records packed into ", 0), 0u) << pack.out;
  EXPECT_EQ(dir.Read("other.lzma"), dir.Read("datakes.lzma"));
  EXPECT_EQ(Tool({"verify", "other.lzma"}).code, 0);
}

TEST(PackTool, UsageErrorsExitTwo) {
  const std::vector<std::vector<std::string>> cases = {
      {"bogus"}, {"pack"}, {"pack", "a", "b"}, {"pack", "a", "-o"}, {"pack", "a", "-x"},
      {"pack", "a", "-o", "x", "-o", "y"}, {"list"}, {"list", "a", "b"}, {"verify"},
      {"pack", "a\\b"}, {"pack", "a", "-o", "x\\y"}, {"extract", "a"}, {"extract", "a", "b", "c"},
      {"--help", "x"}, {"--version", "x"}, {"launcher", "d"}, {"launcher", "-o", "x.exe"},
      {"launcher", "d", "--payload", "p", "-o", "x.exe"}, {"launcher", "d", "-o", "x.exe", "--bogus"},
      {"launcher", "d", "e", "-o", "x.exe"}, {"pack", "a", "--codepage", "437"}, {"list", "a", "--codepage"},
  };
  for (const auto& args : cases) {
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
  const std::vector<uint8_t> stub = LauncherStubImage();
  dir.Write("stub.exe", std::string(stub.begin(), stub.end()));
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
      {{at("finst"), "-o", at("a.exe")}, 0, at("a.exe") + ": launcher, stub "},
      {{"--payload", at("p.lzma"), "-o", at("b.exe")}, 0, at("b.exe") + ": launcher, stub "},
      {{"--payload", at("bad.lzma"), "-o", at("c.exe")}, 1,
       at("bad.lzma") + ": not a payload container: LZMA data is corrupt (--force embeds it as it is)"},
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

}  // namespace
}  // namespace kesmar::testing
