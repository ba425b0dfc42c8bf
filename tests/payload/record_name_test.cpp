// Tests of the record-name rule and of the whole-stream check.
#include <gtest/gtest.h>

#include "payload/record_name.h"
#include "payload/record_stream_check.h"
#include "tests/support/payload_helpers.h"

namespace kesmar::testing {
namespace {

TEST(RecordName, Table) {
  struct Case {
    std::string name;
    bool valid;
  };
  const std::vector<Case> cases = {
      {"a.txt", true},
      {"KesmarSetup.exe", true},
      {"DejaVuSans.ttf", true},
      {"a b.txt", true},
      {".hidden", true},
      {"\xE9t\xE9.txt", true},  // ANSI bytes above 127 are ordinary
      {std::string(254, 'n'), true},
      {"CONSOLE.txt", true},  // only the whole stem is reserved
      {"COM0", true},
      {"LPT10", true},
      {"xcon", true},
      {"", false},
      {std::string(255, 'n'), false},
      {".", false},
      {"..", false},
      {"name.", false},
      {"name ", false},
      {"a\\b", false},
      {"a/b", false},
      {"..\\evil.dll", false},
      {"c:evil", false},
      {"a*b", false},
      {"a?b", false},
      {"a\"b", false},
      {"a<b", false},
      {"a>b", false},
      {"a|b", false},
      {std::string("a\x01", 2), false},
      {"tab\there", false},
      {"CON", false},
      {"con", false},
      {"Prn.txt", false},
      {"aux.tar.gz", false},
      {"NUL", false},
      {"com1", false},
      {"COM9.log", false},
      {"lpt1", false},
      {"LPT9.x", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsValidRecordName(c.name), c.valid) << "name: " << c.name;
  }
}

// Lead bytes as code page 932 has them: 0x81-0x9F and 0xE0-0xFC.
LeadBytes Cp932LeadBytes() {
  LeadBytes lead;
  for (unsigned b = 0x81; b <= 0xFC; ++b) {
    if (b <= 0x9F || b >= 0xE0) lead.Add(uint8_t(b));
  }
  return lead;
}

TEST(RecordName, DoubleByteCodePage) {
  const LeadBytes cp932 = Cp932LeadBytes();
  const std::string so = "\x83\x5C";  // a katakana whose second byte is "\\"
  struct Case {
    std::string name;
    const char* problemIn932;  // null: valid
    bool validInSingleByte;
  };
  const std::vector<Case> cases = {
      {so + ".txt", nullptr, false},
      {"a" + so, nullptr, false},
      {"\x81\x7C", nullptr, false},              // "|" as a second byte
      {"\x81\x2E", nullptr, false},              // a character ending in "." ends no name in a dot
      {"a\x83", "name ends inside a two-byte character", true},
      {"\\" + so, "path separator in name", false},  // a first byte stands alone
      {"\x83\x01", "control character in name", false},
      {so + ".", "name ends in a blank or a dot", false},
  };
  for (const Case& c : cases) {
    EXPECT_STREQ(RecordNameProblem(c.name, cp932), c.problemIn932) << Hex(c.name);
    EXPECT_EQ(IsValidRecordName(c.name), c.validInSingleByte) << Hex(c.name);
  }
  // The cut to 254 bytes never keeps the first half of a character alone.
  const std::string long932 = std::string(253, 'n') + so + "x";
  EXPECT_EQ(CutRecordName(long932, cp932), std::string(253, 'n'));
  EXPECT_EQ(CutRecordName(long932), long932.substr(0, 254));
  EXPECT_EQ(CutRecordName("n" + long932, cp932), "n" + std::string(253, 'n'));
  EXPECT_EQ(CutRecordName(std::string(252, 'n') + so + "x", cp932), std::string(252, 'n') + so);
}

TEST(RecordStreamCheck, Table) {
  const Bytes good = RecordStream({{"a.txt", "abc"}, {"b", ""}});
  Bytes noZero = good;
  noZero.replace(262 + 4, 255, Bytes(255, 'n'));
  Bytes dataPastEnd = good;
  dataPastEnd[262] = char(1);  // the empty second record now claims a byte
  using Fault = RecordStreamFault;
  struct Case {
    const char* what;
    Bytes stream;
    Fault::Kind kind;
    uint32_t index;
    uint32_t offset;
    const char* nameProblem;
  };
  const std::vector<Case> cases = {
      {"well formed", good, Fault::kNone, 0, 0, nullptr},
      {"empty stream", Bytes(), Fault::kNone, 0, 0, nullptr},
      {"trailing bytes that are no record", good + Bytes(10, '\0'), Fault::kHeaderPastEnd, 2, 521, nullptr},
      {"last record cut", good.substr(0, good.size() - 1), Fault::kHeaderPastEnd, 1, 262, nullptr},
      {"first record's data cut", good.substr(0, 261), Fault::kDataPastEnd, 0, 0, nullptr},
      {"data size past the end", dataPastEnd, Fault::kDataPastEnd, 1, 262, nullptr},
      {"name without a zero byte", noZero, Fault::kNameUnterminated, 1, 262, nullptr},
      {"unsafe name", RecordStream({{"..\\x", "1"}}), Fault::kBadName, 0, 0, "path separator in name"},
      {"slash", RecordStream({{"a.txt", "1"}, {"d/x", "1"}}), Fault::kBadName, 1, 260, "path separator in name"},
      {"empty name", RecordStream({{"", "1"}}), Fault::kBadName, 0, 0, "empty name"},
      {"device name", RecordStream({{"nul.txt", "1"}}), Fault::kBadName, 0, 0, "reserved device name"},
      {"dot dot", RecordStream({{"..", "1"}}), Fault::kBadName, 0, 0, "not a file name"},
  };
  for (const Case& c : cases) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(c.stream.data());
    const uint32_t d = uint32_t(c.stream.size());
    EXPECT_EQ(CheckRecordStream(bytes, d), c.kind == Fault::kNone) << c.what;
    Fault fault;
    EXPECT_EQ(CheckRecordStream(bytes, d, &fault), c.kind == Fault::kNone) << c.what;
    EXPECT_EQ(fault.kind, c.kind) << c.what;
    if (c.kind == Fault::kNone) continue;
    EXPECT_EQ(fault.index, c.index) << c.what;
    EXPECT_EQ(fault.offset, c.offset) << c.what;
    EXPECT_STREQ(fault.nameProblem, c.nameProblem) << c.what;
  }
}

}  // namespace
}  // namespace kesmar::testing
