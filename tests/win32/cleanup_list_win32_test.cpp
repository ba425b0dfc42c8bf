// CleanupList on real files and folders: a file held open without delete sharing keeps itself and its folder.
#include <gtest/gtest.h>

#include "launcher/cleanup_list.h"
#include "platform/win32/unique_handle.h"
#include "platform/win32/windows_api.h"
#include "tests/support/temp_dir.h"

namespace kesmar::testing {
namespace {

class CleanupListOnWindows : public ::testing::Test {
 protected:
  CleanupListOnWindows() {
    folder = dir.path().string() + "\\kesmars0";
    ::CreateDirectoryA(folder.c_str(), nullptr);
    list.SetFolder(folder);
    for (const char* name : {"a.txt", "b.txt", "c.txt"}) {
      dir.Write(std::string("kesmars0/") + name, name);
      list.AddFile(folder + "\\" + name);
    }
  }
  bool Exists(const std::string& path) {
    return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
  }

  TempDir dir;
  std::string folder;
  std::unique_ptr<FileSystem> files = CreateNativeFileSystem();
  CleanupList list{*files};
};

TEST_F(CleanupListOnWindows, OpenFileStaysListedUntilItIsClosed) {
  const std::string held = folder + "\\b.txt";
  UniqueFileHandle handle(::CreateFileA(held.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(handle.valid());
  EXPECT_FALSE(list.RemoveExtractedFiles());
  ASSERT_EQ(list.FileCount(), 1u);
  EXPECT_EQ(list.FileAt(0), held);
  EXPECT_EQ(list.Folder(), folder);
  EXPECT_FALSE(Exists(folder + "\\a.txt"));
  EXPECT_TRUE(Exists(held));

  handle.reset();
  EXPECT_TRUE(list.RemoveExtractedFiles());
  EXPECT_FALSE(Exists(folder));
}

TEST_F(CleanupListOnWindows, UnlistedFileKeepsTheFolderAndGoneFilesAreDropped) {
  ::DeleteFileA((folder + "\\c.txt").c_str());
  dir.Write("kesmars0/left-by-setup.log", "x");
  for (int attempt = 0; attempt < 2; ++attempt) EXPECT_FALSE(list.RemoveExtractedFiles());
  EXPECT_EQ(list.FileCount(), 0u);
  EXPECT_EQ(list.Folder(), folder);
  EXPECT_TRUE(Exists(folder + "\\left-by-setup.log"));
}

}  // namespace
}  // namespace kesmar::testing
