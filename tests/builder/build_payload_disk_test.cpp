// BuildPayload on real folders of the machine the tests run on (Linux, or Windows under Wine).
#include <gtest/gtest.h>

#include <filesystem>

#include "builder/build_payload.h"
#include "payload/payload_format.h"
#include "tests/support/payload_helpers.h"
#include "tests/support/temp_dir.h"

namespace kesmar::testing {
namespace {

class BuildPayloadOnDisk : public ::testing::Test {
 protected:
  bool Build() {
    ScopedCurrentDir inside(dir_.path());
    return BuildPayload(*files_);
  }
  Bytes DecodedOutput() {
    const Bytes container = dir_.Read("datakes.lzma");
    ByteBlock stream;
    EXPECT_TRUE(DecompressContainer(reinterpret_cast<const uint8_t*>(container.data()),
                                    uint32_t(container.size()), &stream));
    return Bytes(reinterpret_cast<const char*>(stream.data()), stream.size);
  }

  TempDir dir_;
  std::unique_ptr<FileSystem> files_ = CreateNativeFileSystem();
};

TEST_F(BuildPayloadOnDisk, PacksFilesInNtfsOrderAndSkipsSubfolders) {
  // Created out of order and in mixed case; Windows lists them upper-cased
  // ordinal, and the Linux listing must agree.
  dir_.Write("finst/b.txt", "bee");
  dir_.Write("finst/C.dat", std::string("\0\1\2\r\n\x1a", 6));  // binary, no translation
  dir_.Write("finst/a_empty", "");
  dir_.Write("finst/A.TXT2", "upper");
  dir_.Write("finst/sub/inner.txt", "not packed");
  ASSERT_TRUE(Build());
  // "A.TXT2" before "a_empty": '.' (2E) sorts before '_' (5F).
  EXPECT_EQ(DecodedOutput(), RecordStream({{"A.TXT2", "upper"},
                                           {"a_empty", ""},
                                           {"b.txt", "bee"},
                                           {"C.dat", std::string("\0\1\2\r\n\x1a", 6)}}));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.path()), {}), 2) << "finst, datakes.lzma";
}

TEST_F(BuildPayloadOnDisk, WorkedExampleAndReplacement) {
  dir_.Write("datakes.lzma", std::string(10000, 'o'));
  dir_.Write("finst/a.txt", "abc");
  ASSERT_TRUE(Build());
  EXPECT_EQ(Hex(dir_.Read("datakes.lzma").substr(0, 9)), "06 01 00 00 5D 00 00 00 01");
  EXPECT_EQ(DecodedOutput(), RecordStream({{"a.txt", "abc"}}));
}

TEST_F(BuildPayloadOnDisk, RefusalsKeepTheOldOutput) {
  dir_.Write("datakes.lzma", "old");
  EXPECT_FALSE(Build()) << "no finst";
  std::filesystem::create_directories(dir_.path() / "finst" / "sub");
  EXPECT_FALSE(Build()) << "only a subfolder";
  dir_.Write("finst/empty", "");
  EXPECT_FALSE(Build()) << "only empty files";
  EXPECT_EQ(dir_.Read("datakes.lzma"), "old");
}

}  // namespace
}  // namespace kesmar::testing
