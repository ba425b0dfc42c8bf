// BuildPayload against the in-memory file system: what it packs, in what order, and every way it refuses.
#include <gtest/gtest.h>

#include "builder/build_payload.h"
#include "payload/payload_format.h"
#include "tests/fakes/fake_file_system.h"
#include "tests/support/payload_helpers.h"

namespace kesmar::testing {
namespace {

Bytes DecodeOutput(FakeFileSystem& fs) {
  const Bytes container = fs.Content("datakes.lzma");
  ByteBlock stream;
  EXPECT_TRUE(DecompressContainer(reinterpret_cast<const uint8_t*>(container.data()),
                                  uint32_t(container.size()), &stream));
  return Bytes(reinterpret_cast<const char*>(stream.data()), stream.size);
}

TEST(BuildPayload, PacksTheWorkedExample) {
  FakeFileSystem fs;
  fs.AddFolder("finst");
  fs.AddFile("finst\\a.txt", "abc");
  ASSERT_TRUE(BuildPayload(fs));
  EXPECT_EQ(Hex(fs.Content("datakes.lzma").substr(0, 9)), "06 01 00 00 5D 00 00 00 01");
  EXPECT_EQ(DecodeOutput(fs), RecordStream({{"a.txt", "abc"}}));
  EXPECT_EQ(fs.PathsStartingWith("datakes.lzma.tmp"), std::vector<std::string>());
}

TEST(BuildPayload, KeepsListingOrderSkipsFoldersAndPacksEmptyFiles) {
  FakeFileSystem fs;
  fs.AddFolder("finst");
  fs.AddFile("finst\\zeta.bin", "zz");
  fs.AddFolder("finst\\sub");
  fs.AddFile("finst\\sub\\inner.txt", "not packed");
  fs.AddFile("finst\\empty", "");
  fs.AddFile("finst\\Alpha.txt", "A");
  ASSERT_TRUE(BuildPayload(fs));
  EXPECT_EQ(DecodeOutput(fs), RecordStream({{"zeta.bin", "zz"}, {"empty", ""}, {"Alpha.txt", "A"}}));
}

TEST(BuildPayload, CutsLongNamesTo254Bytes) {
  FakeFileSystem fs;
  fs.AddFolder("finst");
  const std::string longName = std::string(250, 'n') + "wxyz.dat";  // 258 bytes
  fs.AddFile("finst\\" + longName, "data");
  ASSERT_TRUE(BuildPayload(fs));
  const Bytes stream = DecodeOutput(fs);
  EXPECT_EQ(stream, RecordStream({{longName.substr(0, 254), "data"}}));
  EXPECT_EQ(stream[4 + 254], '\0');
  EXPECT_EQ(fs.log().Count("OpenFileForReading(finst\\" + longName + ")"), 1u);
}

TEST(BuildPayload, ReplacesAnExistingOutputWhole) {
  FakeFileSystem fs;
  fs.AddFile("datakes.lzma", Bytes(5000, 'o'));
  fs.AddFolder("finst");
  fs.AddFile("finst\\a.txt", "abc");
  ASSERT_TRUE(BuildPayload(fs));
  EXPECT_EQ(DecodeOutput(fs), RecordStream({{"a.txt", "abc"}}));
}

// Every way a build can fail leaves an existing "datakes.lzma" as it was and
// leaves no temporary file behind.
TEST(BuildPayload, FailuresLeaveTheOldOutputUntouched) {
  struct Case {
    const char* what;
    void (*setUp)(FakeFileSystem&);
  };
  const std::vector<Case> cases = {
      {"no finst", [](FakeFileSystem&) {}},
      {"finst empty", [](FakeFileSystem& fs) { fs.AddFolder("finst"); }},
      {"only subfolders",
       [](FakeFileSystem& fs) {
         fs.AddFolder("finst");
         fs.AddFolder("finst\\sub");
         fs.AddFile("finst\\sub\\a.txt", "abc");
       }},
      {"only empty files",
       [](FakeFileSystem& fs) {
         fs.AddFolder("finst");
         fs.AddFile("finst\\a", "");
         fs.AddFile("finst\\b", "");
       }},
      {"a file does not open",
       [](FakeFileSystem& fs) {
         fs.AddFolder("finst");
         fs.AddFile("finst\\a.txt", "abc");
         fs.AddFile("finst\\locked.bin", "xyz");
         fs.Fail("OpenFileForReading", "finst\\locked.bin");
       }},
      {"a file shrank after listing",
       [](FakeFileSystem& fs) {
         fs.AddFolder("finst");
         fs.AddFile("finst\\a.txt", "abc");
         fs.SetListedSize("finst\\a.txt", 10);
       }},
      {"a file of 4 GiB",
       [](FakeFileSystem& fs) {
         fs.AddFolder("finst");
         fs.AddFile("finst\\a.txt", "abc");
         fs.AddFile("finst\\huge.iso", "");
         fs.SetListedSize("finst\\huge.iso", uint64_t(1) << 32);
       }},
      {"a stream past 4 GiB",
       [](FakeFileSystem& fs) {
         fs.AddFolder("finst");
         fs.AddFile("finst\\a.bin", "");
         fs.SetListedSize("finst\\a.bin", 0xFFFFFF00u);
         fs.AddFile("finst\\b.bin", "");
         fs.SetListedSize("finst\\b.bin", 0x00000200u);
       }},
      {"a device name",
       [](FakeFileSystem& fs) {
         fs.AddFolder("finst");
         fs.AddFile("finst\\a.txt", "abc");
         fs.AddFile("finst\\aux.txt", "x");
       }},
      {"a name Windows cannot hold",
       [](FakeFileSystem& fs) {
         fs.AddFolder("finst");
         fs.AddFile("finst\\what?.txt", "x");
       }},
      {"output does not open",
       [](FakeFileSystem& fs) {
         fs.AddFolder("finst");
         fs.AddFile("finst\\a.txt", "abc");
         fs.Fail("CreateNewFileA");
       }},
      {"output write fails",
       [](FakeFileSystem& fs) {
         fs.AddFolder("finst");
         fs.AddFile("finst\\a.txt", "abc");
         fs.Fail("Write");
       }},
      {"output close fails",
       [](FakeFileSystem& fs) {
         fs.AddFolder("finst");
         fs.AddFile("finst\\a.txt", "abc");
         fs.Fail("Close");
       }},
      {"replacing the output fails",
       [](FakeFileSystem& fs) {
         fs.AddFolder("finst");
         fs.AddFile("finst\\a.txt", "abc");
         fs.Fail("MoveFileExA");
       }},
  };
  for (const Case& c : cases) {
    FakeFileSystem fs;
    fs.AddFile("datakes.lzma", "previous payload");
    c.setUp(fs);
    EXPECT_FALSE(BuildPayload(fs)) << c.what;
    EXPECT_EQ(fs.Content("datakes.lzma"), "previous payload") << c.what;
    EXPECT_EQ(fs.PathsStartingWith("datakes.lzma.tmp"), std::vector<std::string>()) << c.what;
  }
}

TEST(BuildPayload, RefusalsComeBeforeAnyOutputIsOpened) {
  FakeFileSystem fs;
  fs.AddFolder("finst");
  fs.AddFile("finst\\a.txt", "abc");
  fs.AddFile("finst\\con", "x");
  EXPECT_FALSE(BuildPayload(fs));
  EXPECT_EQ(fs.log().Count("CreateNewFileA"), 0u);
  EXPECT_EQ(fs.log().Count("OpenFileForReading"), 0u);
}

}  // namespace
}  // namespace kesmar::testing
