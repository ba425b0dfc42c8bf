// Names across code pages: Linux names into a payload's code page and back, with every rule on the converted bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>

#include "payload/payload_format.h"
#include "platform/ntfs_order.h"
#include "tests/support/payload_helpers.h"
#include "tests/support/pe_image.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tool_runner.h"
#include "kesmar_pack/commands/code_page.h"
#include "kesmar_pack/cli/pack_tool.h"
#include "kesmar_pack/commands/payload_file.h"

namespace kesmar::testing {
namespace {

int Tool(const std::vector<std::string>& args, std::string* out, std::string* err) {
  const ToolRun run = RunTool(args);
  *out = run.out;
  *err = run.err;
  return run.code;
}

// One folder per case, packed with the code page, then listed and extracted
// with it. `stored` is what the record holds; `refusal` what pack says instead.
TEST(CodePages, NamesIntoPayloadsAndBack) {
  struct Case {
    int codePage;
    std::vector<std::string> names;  // besides KesmarSetup.exe, in UTF-8
    std::vector<Bytes> stored;       // in NTFS order; empty when refused
    std::string refusal;             // after "<folder>/"
    bool linuxOnly = false;          // a name Windows cannot have
  };
  const std::vector<Case> cases = {
      {1252, {"caf\u00e9.txt", "\u00fcber.txt", "\u20acuro.txt", "\u00c92.txt"},
       {"caf\xE9.txt", "KesmarSetup.exe", "\xC9" "2.txt", "\xFC" "ber.txt", "\x80uro.txt"}, ""},
      {1251, {"\u0434\u0430\u043d\u043d\u044b\u0435.txt"}, {"KesmarSetup.exe", "\xE4\xE0\xED\xED\xFB\xE5.txt"}, ""},
      {932, {"\u30bd.txt", "\u65e5\u672c.txt"}, {"KesmarSetup.exe", "\x83\x5C.txt", "\x93\xFA\x96{.txt"}, ""},
      {1252, {"\u65e5\u672c.txt"}, {}, "\u65e5\u672c.txt: not representable in code page 1252 (--codepage N takes another)"},
      {1251, {"caf\u00e9.txt"}, {}, "caf\u00e9.txt: not representable in code page 1251 (--codepage N takes another)"},
      {1252, {"\xFF.txt"}, {}, "\\xFF.txt: not valid UTF-8", true},
      // A C1 control character: Windows' table would take it, iconv would not.
      {1252, {"\u0081.txt"}, {}, "\\xC2\\x81.txt: not representable in code page 1252 (--codepage N takes another)"},
      // One file on Windows, told apart only by the code page's own case folding.
      {1252, {"\u00e9.txt", "\u00c9.txt"}, {}, "\u00e9.txt: same name as \u00c9.txt apart from letter case"},
      {1251, {"\u0434.txt", "\u0414.txt"}, {}, "\u0434.txt: same name as \u0414.txt apart from letter case"},
  };
  for (const Case& c : cases) {
    if (c.linuxOnly && RunsWindowsTool()) continue;
    const std::string what = std::to_string(c.codePage) + " " + c.names[0];
    TempDir dir;
    dir.Write("finst/KesmarSetup.exe", ProgramImage());
    for (const std::string& name : c.names) dir.Write("finst/" + name, name);
    const std::string finst = (dir.path() / "finst").string();
    const std::string payload = (dir.path() / "p.lzma").string();
    const std::string cp = std::to_string(c.codePage);
    std::string out, err;
    const int code = Tool({"pack", finst, "--codepage", cp, "-o", payload}, &out, &err);
    if (c.stored.empty()) {
      EXPECT_EQ(code, 1) << what;
      EXPECT_EQ(err, finst + "/" + c.refusal + "\n") << what;
      EXPECT_FALSE(std::filesystem::exists(payload)) << what;
      continue;
    }
    ASSERT_EQ(code, 0) << what << err;
    ASSERT_EQ(Tool({"verify", "--codepage", cp, payload}, &out, &err), 0) << what << err;
    if (RunsWindowsTool()) {
      // kesmar-pack.exe and this system's own write the same container, and
      // the same launcher around it.
      const std::vector<uint8_t> stub = LauncherStubImage();
      dir.Write("stub.exe", std::string(stub.begin(), stub.end()));
      const std::string stubPath = (dir.path() / "stub.exe").string();
      std::ostringstream quiet;
      ASSERT_EQ(RunKesmarPack({"pack", finst, "--codepage", cp, "-o", payload + ".here"}, quiet, quiet, false), 0);
      EXPECT_EQ(dir.Read("p.lzma"), dir.Read("p.lzma.here")) << what;
      ASSERT_EQ(Tool({"launcher", finst, "--codepage", cp, "--stub", stubPath, "-o", payload + ".exe"}, &out, &err), 0)
          << what << err;
      ASSERT_EQ(RunKesmarPack({"launcher", finst, "--codepage", cp, "--stub", stubPath, "-o", payload + ".here.exe"},
                              quiet, quiet, false), 0);
      EXPECT_EQ(dir.Read("p.lzma.exe"), dir.Read("p.lzma.here.exe")) << what;
    }

    // The way back: list shows, and extract writes, the folder's own names.
    ASSERT_EQ(Tool({"list", "--codepage", cp, payload}, &out, &err), 0) << what;
    for (const std::string& name : c.names) EXPECT_NE(out.find("\n" + name + " "), std::string::npos) << what;
    const std::string extracted = (dir.path() / "out").string();
    ASSERT_EQ(Tool({"extract", "--codepage", cp, payload, extracted}, &out, &err), 0) << what << err;
    const Bytes container = dir.Read("p.lzma");
    ByteBlock stream;
    ASSERT_TRUE(DecompressContainer(reinterpret_cast<const uint8_t*>(container.data()),
                                    uint32_t(container.size()), &stream));
    std::vector<Bytes> records;
    PayloadRecord record;
    for (uint32_t offset = 0; ReadRecord(stream.data(), stream.size, offset, &record); offset = record.next) {
      records.push_back(record.name);
    }
    EXPECT_EQ(records, c.stored) << what;
    for (const std::string& name : c.names) EXPECT_EQ(dir.Read("out/" + name), name) << what;
  }
}

TEST(CodePages, ListColumnsCountCharacters) {
  TempDir dir;
  dir.Write("finst/KesmarSetup.exe", "MZ");
  dir.Write("finst/\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9", "1");
  const std::string payload = (dir.path() / "p.lzma").string();
  std::string out, err;
  ASSERT_EQ(Tool({"pack", (dir.path() / "finst").string(), "-o", payload}, &out, &err), 0);
  ASSERT_EQ(Tool({"list", payload}, &out, &err), 0);
  std::istringstream lines(out);
  std::string header, first, second;
  std::getline(lines, header);
  std::getline(lines, first);
  std::getline(lines, second);
  // Sixteen characters, thirty-two bytes: the size column lines up all the same.
  EXPECT_EQ(CharacterCount(first), CharacterCount(header));
  EXPECT_EQ(CharacterCount(second), CharacterCount(header));
}

TEST(CodePages, NtfsOrderOfMixedNames) {
  std::vector<std::string> names = {"\u20acuro.txt", "\u00c92.txt", "zeta", "\u00e91", "Alpha",
                                    "\u0434", "\u30bd", "_", "\xFF"};
  std::sort(names.begin(), names.end(), NtfsNameLess);
  // Upper-cased UTF-16: A, Z, _ (0x5F), E-acute (0xC9), De (0x414), euro
  // (0x20AC), katakana (0x30BD); a stray byte last, as the unit 0xDCFF.
  const std::vector<std::string> expected = {"Alpha", "zeta", "_", "\u00e91", "\u00c92.txt",
                                             "\u0434", "\u20acuro.txt", "\u30bd", "\xFF"};
  EXPECT_EQ(names, expected);
}

}  // namespace
}  // namespace kesmar::testing
