// Tests of the container and record-stream layouts and the three operations over them.
#include <gtest/gtest.h>

#include "payload/payload_format.h"
#include "tests/support/payload_helpers.h"

namespace kesmar::testing {
namespace {

const uint8_t* U8(const Bytes& b) { return reinterpret_cast<const uint8_t*>(b.data()); }

bool Decompress(const Bytes& container, Bytes* stream) {
  ByteBlock block;
  if (!DecompressContainer(U8(container), uint32_t(container.size()), &block)) {
    EXPECT_EQ(block.data(), nullptr) << "a failed decode leaves no block";
    return false;
  }
  stream->assign(reinterpret_cast<const char*>(block.data()), block.size);
  return true;
}

TEST(PayloadFormat, WorkedExampleByteForByte) {
  const Bytes stream = RecordStream({{"a.txt", "abc"}});
  ASSERT_EQ(stream.size(), 262u);
  EXPECT_EQ(Hex(stream.substr(0, 9)), "03 00 00 00 61 2E 74 78 74");
  EXPECT_EQ(stream.substr(9, 250), Bytes(250, '\0'));
  EXPECT_EQ(stream.substr(259), "abc");

  const Bytes container = Container(stream);
  EXPECT_EQ(Hex(container.substr(0, 9)), "06 01 00 00 5D 00 00 00 01");
  Bytes decoded;
  ASSERT_TRUE(Decompress(container, &decoded));
  EXPECT_EQ(decoded, stream);

  // With an empty file "b" behind it: 521 bytes, size field 09 02 00 00.
  const Bytes two = RecordStream({{"a.txt", "abc"}, {"b", ""}});
  ASSERT_EQ(two.size(), 521u);
  EXPECT_EQ(Hex(two.substr(262, 5)), "00 00 00 00 62");
  EXPECT_EQ(Hex(Container(two).substr(0, 4)), "09 02 00 00");
}

TEST(PayloadFormat, RoundTripsAssortedStreams) {
  Bytes large;
  for (uint32_t i = 0; i < 300000; ++i) large += char((i * 7919u) >> 5);
  const std::vector<Bytes> streams = {
      RecordStream({{"empty", ""}}),
      RecordStream({{std::string(254, 'n'), "x"}, {"b.bin", Bytes(1000, '\xFF')}}),
      RecordStream({{"big.dat", large}, {"KesmarSetup.exe", "MZ"}}),
  };
  for (const Bytes& stream : streams) {
    Bytes decoded;
    ASSERT_TRUE(Decompress(Container(stream), &decoded));
    EXPECT_EQ(decoded, stream);
  }
}

TEST(PayloadFormat, ContainerTable) {
  const Bytes good = Container(RecordStream({{"a.txt", "abc"}}));
  Bytes badProperties = good;
  badProperties[4] = char(225);
  Bytes maxProperties = good;
  maxProperties[4] = char(255);
  Bytes emptyWithStream = Container(Bytes());  // size field 0, valid stream
  Bytes largerSize = good;
  largerSize[0] = char(0x07);  // claims 263 bytes, the data ends after 262
  Bytes firstByteSet = good;
  firstByteSet[9] = char(0x80);  // a range coder's first byte is always 0

  struct Case {
    const char* what;
    Bytes container;
    bool ok;
    size_t size;
    ContainerFault fault;
  };
  const ContainerFault none = ContainerFault::kNone;
  const std::vector<Case> cases = {
      {"empty", Bytes(), false, 0, ContainerFault::kTooShort},
      {"4 bytes", good.substr(0, 4), false, 0, ContainerFault::kTooShort},
      {"8 bytes", good.substr(0, 8), false, 0, ContainerFault::kTooShort},
      {"9 bytes: no LZMA data", good.substr(0, 9), false, 0, ContainerFault::kStreamTooShort},
      {"13 bytes: LZMA data under 5 bytes", good.substr(0, 13), false, 0, ContainerFault::kStreamTooShort},
      {"properties byte 225", badProperties, false, 0, ContainerFault::kBadProperties},
      {"properties byte 255", maxProperties, false, 0, ContainerFault::kBadProperties},
      {"stream cut short", good.substr(0, good.size() - 3), false, 0, ContainerFault::kTruncated},
      {"size field past the data", largerSize, false, 0, ContainerFault::kTruncated},
      {"first LZMA byte not zero", firstByteSet, false, 0, ContainerFault::kCorrupt},
      {"bytes appended", good + Bytes(100, '\x55'), true, 262, none},
      {"size field 0", emptyWithStream, true, 0, none},
      {"end marker behind the last byte", ContainerWithEndMarker(RecordStream({{"a.txt", "abc"}})), true, 262, none},
  };
  for (const Case& c : cases) {
    Bytes decoded;
    EXPECT_EQ(Decompress(c.container, &decoded), c.ok) << c.what;
    if (c.ok) {
      EXPECT_EQ(decoded.size(), c.size) << c.what;
    }
    ByteBlock stream;
    ContainerFault fault = ContainerFault::kNone;
    DecompressContainer(U8(c.container), uint32_t(c.container.size()), &stream, &fault);
    EXPECT_EQ(int(fault), int(c.fault)) << c.what;
  }
}

TEST(PayloadFormat, EndMarkerBeforeTheDeclaredSizeFails) {
  // Decoding "succeeds" but produces fewer bytes than the size field says.
  Bytes container = ContainerWithEndMarker(RecordStream({{"a.txt", "abc"}}));
  container[0] = char(0x10);  // 272 declared, 262 encoded before the marker
  Bytes decoded;
  EXPECT_FALSE(Decompress(container, &decoded));
  ByteBlock stream;
  ContainerFault fault = ContainerFault::kNone;
  EXPECT_FALSE(DecompressContainer(U8(container), uint32_t(container.size()), &stream, &fault));
  EXPECT_EQ(int(fault), int(ContainerFault::kEndsEarly));
}

TEST(PayloadFormat, ReadRecordWalksAndStaysInBounds) {
  const Bytes stream = RecordStream({{"a.txt", "abc"}, {"b", ""}, {std::string(254, 'z'), "q"}});
  PayloadRecord record;
  ASSERT_TRUE(ReadRecord(U8(stream), uint32_t(stream.size()), 0, &record));
  EXPECT_EQ(record.name, "a.txt");
  EXPECT_EQ(record.dataSize, 3u);
  EXPECT_EQ(Bytes(reinterpret_cast<const char*>(record.data), 3), "abc");
  EXPECT_EQ(record.next, 262u);
  ASSERT_TRUE(ReadRecord(U8(stream), uint32_t(stream.size()), record.next, &record));
  EXPECT_EQ(record.name, "b");
  EXPECT_EQ(record.dataSize, 0u);
  EXPECT_EQ(record.next, 521u);
  ASSERT_TRUE(ReadRecord(U8(stream), uint32_t(stream.size()), record.next, &record));
  EXPECT_EQ(record.name.size(), 254u);
  EXPECT_EQ(record.next, stream.size());

  Bytes noZero = Record("x", "");
  noZero.replace(4, 255, Bytes(255, 'n'));
  Bytes hugeSize = Record("x", "abc");
  hugeSize[3] = char(0xFF);  // data size near 4 GiB: next offset must not wrap

  struct Case {
    const char* what;
    Bytes stream;
    uint32_t offset;
  };
  const std::vector<Case> bad = {
      {"header past the end", stream.substr(0, 258), 0},
      {"data past the end", stream.substr(0, 261), 0},
      {"offset past the end", stream, uint32_t(stream.size()) + 1},
      {"offset near 4 GiB", stream, 0xFFFFFFF0u},
      {"name field without a zero byte", noZero, 0},
      {"data size near 4 GiB", hugeSize, 0},
  };
  for (const Case& c : bad) {
    EXPECT_FALSE(ReadRecord(U8(c.stream), uint32_t(c.stream.size()), c.offset, &record)) << c.what;
  }
}

}  // namespace
}  // namespace kesmar::testing
