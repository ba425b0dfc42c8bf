// What BuildPayload tells an observer: one refusal naming the file and the reason, and compression progress.
#include <gtest/gtest.h>

#include <cerrno>

#include "builder/build_payload.h"
#include "payload/payload_format.h"
#include "tests/fakes/fake_file_system.h"
#include "tests/support/payload_helpers.h"

namespace kesmar::testing {
namespace {

class RecordingObserver final : public BuildObserver {
 public:
  void Refused(const std::string& path, const std::string& reason) override {
    refusals.push_back(path + ": " + reason);
  }
  void Compressing(uint64_t done, uint64_t total) override { progress.emplace_back(done, total); }

  std::vector<std::string> refusals;
  std::vector<std::pair<uint64_t, uint64_t>> progress;
};

void FinstWithAText(FakeFileSystem& fs) {
  fs.AddFolder("finst");
  fs.AddFile("finst\\a.txt", "abc");
}

TEST(BuildReport, OneLinePerReason) {
  struct Case {
    void (*setUp)(FakeFileSystem&);
    std::string line;
  };
  const std::vector<Case> cases = {
      {[](FakeFileSystem&) {}, "finst: cannot list folder"},
      {[](FakeFileSystem& fs) { fs.AddFolder("finst"); }, "finst: no files to pack"},
      {[](FakeFileSystem& fs) {
         fs.AddFolder("finst");
         fs.AddFolder("finst\\sub");
         fs.AddFile("finst\\sub\\a.txt", "abc");
       },
       "finst: no files to pack"},
      {[](FakeFileSystem& fs) {
         fs.AddFolder("finst");
         fs.AddFile("finst\\empty", "");
       },
       "finst: no files to pack (every file is empty)"},
      {[](FakeFileSystem& fs) {
         FinstWithAText(fs);
         fs.AddFile("finst\\con", "x");
       },
       "finst\\con: reserved device name"},
      {[](FakeFileSystem& fs) {
         FinstWithAText(fs);
         fs.AddFile("finst\\what?.txt", "x");
       },
       "finst\\what?.txt: character not allowed in a Windows file name"},
      {[](FakeFileSystem& fs) {
         FinstWithAText(fs);
         fs.AddFile("finst\\trailing.", "x");
       },
       "finst\\trailing.: name ends in a blank or a dot"},
      {[](FakeFileSystem& fs) {
         FinstWithAText(fs);
         fs.AddFile("finst\\big.iso", "");
         fs.SetListedSize("finst\\big.iso", uint64_t(1) << 32);
       },
       "finst\\big.iso: 4 GiB or larger"},
      {[](FakeFileSystem& fs) {
         fs.AddFolder("finst");
         fs.AddFile("finst\\a.bin", "");
         fs.SetListedSize("finst\\a.bin", 0xFFFFFF00u);
         fs.AddFile("finst\\b.bin", "");
         fs.SetListedSize("finst\\b.bin", 0x200u);
       },
       "finst: files add up to 4 GiB or more"},
      {[](FakeFileSystem& fs) {
         FinstWithAText(fs);
         fs.AddFile("finst\\A.TXT", "x");
       },
       "finst\\A.TXT: same name as a.txt apart from letter case"},
      {[](FakeFileSystem& fs) {
         fs.AddFolder("finst");
         fs.AddFile("finst\\" + std::string(254, 'n') + "-one", "1");
         fs.AddFile("finst\\" + std::string(254, 'n') + "-two", "2");
       },
       "finst\\" + std::string(254, 'n') + "-two: same first 254 bytes of name as " +
           std::string(254, 'n') + "-one"},
      {[](FakeFileSystem& fs) {
         FinstWithAText(fs);
         fs.Fail("OpenFileForReading", "finst\\a.txt");
       },
       "finst\\a.txt: cannot open"},
      {[](FakeFileSystem& fs) {
         FinstWithAText(fs);
         fs.SetListedSize("finst\\a.txt", 10);
       },
       "finst\\a.txt: shorter than listed (changed while packing?)"},
      {[](FakeFileSystem& fs) {
         FinstWithAText(fs);
         fs.Fail("CreateNewFileA");
       },
       "datakes.lzma: cannot create"},
      {[](FakeFileSystem& fs) {
         FinstWithAText(fs);
         fs.Fail("Write");
       },
       "datakes.lzma: cannot write"},
      {[](FakeFileSystem& fs) {
         FinstWithAText(fs);
         fs.Fail("Close");
       },
       "datakes.lzma: cannot write"},
      {[](FakeFileSystem& fs) {
         FinstWithAText(fs);
         fs.Fail("MoveFileExA");
       },
       "datakes.lzma: cannot replace"},
  };
  for (const Case& c : cases) {
    FakeFileSystem fs;
    c.setUp(fs);
    RecordingObserver observer;
    EXPECT_FALSE(BuildPayload(fs, "finst", "datakes.lzma", &observer)) << c.line;
    EXPECT_EQ(observer.refusals, std::vector<std::string>{c.line});
  }
}

TEST(BuildReport, OtherFolderAndOutputPackLikeFinst) {
  FakeFileSystem fs;
  fs.AddFolder("in");
  fs.AddFolder("in\\files");
  fs.AddFile("in\\files\\b.txt", "bee");
  fs.AddFile("in\\files\\a.txt", "abc");
  fs.AddFolder("out");
  RecordingObserver observer;
  ASSERT_TRUE(BuildPayload(fs, "in\\files", "out\\p.bin", &observer));
  EXPECT_TRUE(observer.refusals.empty());
  EXPECT_FALSE(fs.Exists("datakes.lzma"));
  EXPECT_EQ(fs.PathsStartingWith("out\\p.bin.tmp"), std::vector<std::string>());
  const Bytes container = fs.Content("out\\p.bin");
  ByteBlock stream;
  ASSERT_TRUE(DecompressContainer(reinterpret_cast<const uint8_t*>(container.data()),
                                  uint32_t(container.size()), &stream));
  EXPECT_EQ(Bytes(reinterpret_cast<const char*>(stream.data()), stream.size),
            RecordStream({{"b.txt", "bee"}, {"a.txt", "abc"}}));
}

TEST(BuildReport, ProgressRisesToTheWholeStream) {
  FakeFileSystem fs;
  fs.AddFolder("finst");
  // Enough incompressible-looking data for the encoder to report between blocks.
  std::string data(1 << 20, '\0');
  uint32_t x = 12345;
  for (char& c : data) c = char((x = x * 1103515245u + 12345u) >> 24);
  fs.AddFile("finst\\noise.bin", data);
  RecordingObserver observer;
  ASSERT_TRUE(BuildPayload(fs, "finst", "datakes.lzma", &observer));
  ASSERT_GE(observer.progress.size(), 2u);
  const uint64_t total = data.size() + 259;
  uint64_t last = 0;
  for (const auto& [done, reportedTotal] : observer.progress) {
    EXPECT_EQ(reportedTotal, total);
    EXPECT_GE(done, last);
    last = done;
  }
  EXPECT_EQ(last, total);
}

}  // namespace
}  // namespace kesmar::testing
