// Record streams and containers for tests.
#include "tests/support/payload_helpers.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "payload/byte_block.h"
#include "payload/payload_format.h"

extern "C" {
#include "LzmaEnc.h"
}

namespace kesmar::testing {

Bytes Record(const std::string& name, const Bytes& data) {
  Bytes record(PayloadRecord::kHeaderSize, '\0');
  WriteLe32(reinterpret_cast<uint8_t*>(&record[0]), uint32_t(data.size()));
  record.replace(PayloadRecord::kNameOffset, name.size(), name);
  return record + data;
}

Bytes RecordStream(const std::vector<std::pair<std::string, Bytes>>& files) {
  Bytes stream;
  for (const auto& [name, data] : files) stream += Record(name, data);
  return stream;
}

Bytes Container(const Bytes& stream) {
  ByteBlock container;
  EXPECT_TRUE(CompressRecordStream(reinterpret_cast<const uint8_t*>(stream.data()),
                                   uint32_t(stream.size()), &container));
  return Bytes(reinterpret_cast<const char*>(container.data()), container.size);
}

namespace {
void* Alloc(void*, size_t size) { return malloc(size); }
void Free(void*, void* p) { free(p); }
}  // namespace

Bytes ContainerWithEndMarker(const Bytes& stream) {
  ISzAlloc alloc = {Alloc, Free};
  CLzmaEncProps props;
  LzmaEncProps_Init(&props);
  props.level = 5;
  props.dictSize = 1 << 24;
  props.writeEndMark = 1;
  Bytes out(9 + stream.size() + stream.size() / 3 + 128, '\0');
  SizeT destLen = out.size() - 9;
  SizeT propsSize = 5;
  auto* base = reinterpret_cast<Byte*>(&out[0]);
  const SRes result = LzmaEncode(base + 9, &destLen, reinterpret_cast<const Byte*>(stream.data()),
                                 stream.size(), &props, base + 4, &propsSize, 1, nullptr, &alloc, &alloc);
  EXPECT_EQ(result, SZ_OK);
  WriteLe32(base, uint32_t(stream.size()));
  out.resize(9 + destLen);
  return out;
}

std::string Hex(const Bytes& bytes, size_t limit) {
  std::string text;
  char buffer[4];
  for (size_t i = 0; i < bytes.size() && i < limit; ++i) {
    std::snprintf(buffer, sizeof buffer, "%02X ", static_cast<unsigned char>(bytes[i]));
    text += buffer;
  }
  if (!text.empty()) text.pop_back();
  return text;
}

}  // namespace kesmar::testing
