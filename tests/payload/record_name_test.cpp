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

TEST(RecordStreamCheck, Table) {
  const Bytes good = RecordStream({{"a.txt", "abc"}, {"b", ""}});
  Bytes noZero = good;
  noZero.replace(262 + 4, 255, Bytes(255, 'n'));
  struct Case {
    const char* what;
    Bytes stream;
    bool ok;
  };
  const std::vector<Case> cases = {
      {"well formed", good, true},
      {"empty stream", Bytes(), true},
      {"trailing bytes that are no record", good + Bytes(10, '\0'), false},
      {"last record cut", good.substr(0, good.size() - 1), false},
      {"name without a zero byte", noZero, false},
      {"unsafe name", RecordStream({{"..\\x", "1"}}), false},
      {"empty name", RecordStream({{"", "1"}}), false},
      {"device name", RecordStream({{"nul.txt", "1"}}), false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CheckRecordStream(reinterpret_cast<const uint8_t*>(c.stream.data()),
                                uint32_t(c.stream.size())),
              c.ok)
        << c.what;
  }
}

}  // namespace
}  // namespace kesmar::testing
