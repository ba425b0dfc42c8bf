// ExtractPayload from the "RAW" #130 resource linked into this program, into a temporary folder of its own.
#include <gtest/gtest.h>

#include "launcher/extract_payload.h"
#include "platform/fonts.h"
#include "platform/resources.h"
#include "platform/security.h"
#include "platform/win32/windows_api.h"
#include "tests/support/temp_dir.h"

namespace kesmar::testing {
namespace {

// Points TMP, which GetTempPathA reads first, at `folder` while in scope.
class ScopedTmp {
 public:
  explicit ScopedTmp(const std::string& folder) {
    char old[MAX_PATH] = {};
    hadOld_ = ::GetEnvironmentVariableA("TMP", old, MAX_PATH) != 0;
    old_ = old;
    ::SetEnvironmentVariableA("TMP", folder.c_str());
  }
  ~ScopedTmp() { ::SetEnvironmentVariableA("TMP", hadOld_ ? old_.c_str() : nullptr); }

 private:
  bool hadOld_;
  std::string old_;
};

TEST(ExtractPayloadOnWindows, WritesTheEmbeddedPayloadIntoTheNextFreeFolder) {
  TempDir dir;
  const std::string temp = dir.path().string();
  ScopedTmp tmp(temp);
  ::CreateDirectoryA((temp + "\\kesmars0").c_str(), nullptr);
  dir.Write("kesmars1", "a file in the way");

  auto files = CreateNativeFileSystem();
  auto resources = CreateNativeResourceApi();
  auto fonts = CreateNativeFontApi();
  auto security = CreateNativeSecurityApi();
  Platform platform;
  platform.files = files.get();
  platform.resources = resources.get();
  platform.fonts = fonts.get();
  platform.security = security.get();
  ResetFolderCounter();
  CleanupList list(*files);
  std::string setupPath, workFolder;
  ASSERT_TRUE(ExtractPayload(platform, &setupPath, &workFolder, list));

  // tests/data/make_win32_payload.sh made the payload from these files.
  const std::string folder = temp + "\\kesmars2";
  EXPECT_EQ(workFolder, folder);
  EXPECT_EQ(setupPath, folder + "\\KesmarSetup.exe");
  EXPECT_EQ(list.FileCount(), 4u);
  EXPECT_EQ(dir.Read("kesmars2/readme.txt"), "Read me first.\r\n");
  EXPECT_EQ(dir.Read("kesmars2/empty.dat"), "");
  EXPECT_TRUE(dir.Exists("kesmars2/empty.dat"));
  EXPECT_EQ(dir.Read("kesmars2/KesmarSetup.exe"),
            std::string("MZ\0\1\2not a real program\x1a\r\n", 26));
  EXPECT_EQ(dir.Read("kesmars2/data.bin"), std::string("line one\nline two\r\n\0\xff", 21));

  EXPECT_TRUE(list.RemoveExtractedFiles());
  EXPECT_FALSE(dir.Exists("kesmars2"));
  EXPECT_TRUE(dir.Exists("kesmars0"));
  EXPECT_EQ(dir.Read("kesmars1"), "a file in the way");
}

}  // namespace
}  // namespace kesmar::testing
