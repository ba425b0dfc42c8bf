// Our containers against an independent LZMA implementation, xz-utils' liblzma.
#include <gtest/gtest.h>
#include <lzma.h>

#include "payload/payload_format.h"
#include "tests/support/payload_helpers.h"

namespace kesmar::testing {
namespace {

lzma_options_lzma PayloadOptions() {
  lzma_options_lzma options;
  lzma_lzma_preset(&options, 5);
  options.dict_size = 1u << 24;
  options.lc = 3;
  options.lp = 0;
  options.pb = 2;
  options.nice_len = 32;
  return options;
}

// liblzma's raw LZMA1 decoder, stopped after `size` bytes as the size field says.
bool PeerDecode(const Bytes& lzmaData, size_t size, Bytes* out) {
  lzma_options_lzma options = PayloadOptions();
  lzma_filter filters[] = {{LZMA_FILTER_LZMA1, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
  lzma_stream strm = LZMA_STREAM_INIT;
  if (lzma_raw_decoder(&strm, filters) != LZMA_OK) return false;
  out->assign(size, '\0');
  strm.next_in = reinterpret_cast<const uint8_t*>(lzmaData.data());
  strm.avail_in = lzmaData.size();
  strm.next_out = reinterpret_cast<uint8_t*>(&(*out)[0]);
  strm.avail_out = size;
  lzma_ret ret = LZMA_OK;
  while (strm.avail_out > 0 && ret == LZMA_OK) ret = lzma_code(&strm, LZMA_FINISH);
  lzma_end(&strm);
  return strm.avail_out == 0 && (ret == LZMA_OK || ret == LZMA_STREAM_END);
}

// liblzma's raw LZMA1 encoder: a valid stream that ends with an end marker.
Bytes PeerEncode(const Bytes& data) {
  lzma_options_lzma options = PayloadOptions();
  lzma_filter filters[] = {{LZMA_FILTER_LZMA1, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
  lzma_stream strm = LZMA_STREAM_INIT;
  EXPECT_EQ(lzma_raw_encoder(&strm, filters), LZMA_OK);
  Bytes out(data.size() + data.size() / 2 + 1024, '\0');
  strm.next_in = reinterpret_cast<const uint8_t*>(data.data());
  strm.avail_in = data.size();
  strm.next_out = reinterpret_cast<uint8_t*>(&out[0]);
  strm.avail_out = out.size();
  lzma_ret ret;
  do ret = lzma_code(&strm, LZMA_FINISH);
  while (ret == LZMA_OK);
  EXPECT_EQ(ret, LZMA_STREAM_END);
  out.resize(strm.total_out);
  lzma_end(&strm);
  return out;
}

std::vector<Bytes> SampleStreams() {
  Bytes text, noise;
  for (int i = 0; i < 20000; ++i) text += "line " + std::to_string(i % 97) + " of the payload\n";
  uint32_t x = 12345;
  for (int i = 0; i < 200000; ++i) noise += char((x = x * 1103515245 + 12345) >> 24);
  return {RecordStream({{"a.txt", "abc"}}),
          RecordStream({{"readme.txt", text}, {"empty", ""}, {"noise.bin", noise}})};
}

TEST(LzmaPeer, LiblzmaDecodesOurContainers) {
  for (const Bytes& stream : SampleStreams()) {
    const Bytes container = Container(stream);
    ASSERT_EQ(Hex(container.substr(4, 5)), "5D 00 00 00 01");
    Bytes decoded;
    ASSERT_TRUE(PeerDecode(container.substr(9), stream.size(), &decoded));
    EXPECT_EQ(decoded, stream);
  }
}

TEST(LzmaPeer, WeDecodeLiblzmaStreamsWithEndMarker) {
  for (const Bytes& stream : SampleStreams()) {
    Bytes container(4, '\0');
    WriteLe32(reinterpret_cast<uint8_t*>(&container[0]), uint32_t(stream.size()));
    container += std::string("\x5D\x00\x00\x00\x01", 5) + PeerEncode(stream);
    ByteBlock decoded;
    ASSERT_TRUE(DecompressContainer(reinterpret_cast<const uint8_t*>(container.data()),
                                    uint32_t(container.size()), &decoded));
    EXPECT_EQ(Bytes(reinterpret_cast<const char*>(decoded.data()), decoded.size), stream);
  }
}

}  // namespace
}  // namespace kesmar::testing
