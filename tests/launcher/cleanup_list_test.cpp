// CleanupList against the in-memory file system: order of removal, what stays, and the one attempt on destruction.
#include <gtest/gtest.h>

#include <functional>

#include "launcher/cleanup_list.h"
#include "tests/fakes/fake_file_system.h"

namespace kesmar::testing {
namespace {

const std::string kFolder = "C:\\Temp\\kesmars0";
const std::string kA = kFolder + "\\a", kB = kFolder + "\\b", kC = kFolder + "\\c";

std::vector<std::string> Entries(const CleanupList& list) {
  std::vector<std::string> entries;
  for (size_t i = 0; i < list.FileCount(); ++i) entries.push_back(list.FileAt(i));
  return entries;
}

// The folder with a, b and c in it, all three listed.
void ThreeListedFiles(FakeFileSystem& fs, CleanupList& list) {
  fs.AddFolder(kFolder);
  list.SetFolder(kFolder);
  for (const std::string& path : {kA, kB, kC}) {
    fs.AddFile(path, "x");
    list.AddFile(path);
  }
}

class CleanupListTest : public ::testing::Test {
 protected:
  FakeFileSystem fs;
  CleanupList list{fs};
};

TEST_F(CleanupListTest, EmptyListMakesNoCall) {
  EXPECT_TRUE(list.RemoveExtractedFiles());
  EXPECT_TRUE(fs.log().calls().empty());
}

TEST_F(CleanupListTest, RemovesNewestFileFirstAndTheFolderLast) {
  ThreeListedFiles(fs, list);
  EXPECT_TRUE(list.RemoveExtractedFiles());
  EXPECT_EQ(fs.log().calls(), (std::vector<std::string>{
      "GetFileAttributesA(" + kC + ")", "DeleteFileA(" + kC + ")",
      "GetFileAttributesA(" + kB + ")", "DeleteFileA(" + kB + ")",
      "GetFileAttributesA(" + kA + ")", "DeleteFileA(" + kA + ")",
      "GetFileAttributesA(" + kFolder + ")", "RemoveDirectoryA(" + kFolder + ")"}));
  EXPECT_EQ(list.FileCount(), 0u);
  EXPECT_EQ(list.Folder(), "");
  EXPECT_FALSE(fs.Exists(kFolder));
}

// One attempt in each situation: what it returns, what stays listed, and
// whether anything was deleted that should not have been.
TEST_F(CleanupListTest, OneAttemptTable) {
  struct Case {
    const char* what;
    std::function<void(FakeFileSystem&)> change;  // applied to the three-file set-up
    bool result;
    std::vector<std::string> left;
    std::string folderLeft;
    size_t deleteCalls;
  };
  const std::vector<Case> cases = {
      {"file already gone: no delete call", [](FakeFileSystem& f) { f.DeleteFileA(kB); },
       true, {}, "", 2},
      {"unqueryable file counts as gone",
       [](FakeFileSystem& f) { f.Fail("GetFileAttributesA", kA); }, false, {}, kFolder, 2},
      {"unlisted file keeps the folder",
       [](FakeFileSystem& f) { f.AddFile(kFolder + "\\own", ""); }, false, {}, kFolder, 3},
      {"folder already vanished",
       [](FakeFileSystem& f) {
         for (const auto& p : {kA, kB, kC}) f.DeleteFileA(p);
         f.RemoveDirectoryA(kFolder);
       },
       true, {}, "", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeFileSystem f;
    CleanupList l(f);
    ThreeListedFiles(f, l);
    c.change(f);
    f.log().Clear();
    EXPECT_EQ(l.RemoveExtractedFiles(), c.result);
    EXPECT_EQ(Entries(l), c.left);
    EXPECT_EQ(l.Folder(), c.folderLeft);
    EXPECT_EQ(f.log().Count("DeleteFileA("), c.deleteCalls);
  }
}

TEST_F(CleanupListTest, LaterAttemptRetriesOnlyWhatIsLeft) {
  ThreeListedFiles(fs, list);
  fs.Fail("DeleteFileA", kB, 1);
  EXPECT_FALSE(list.RemoveExtractedFiles());
  ASSERT_EQ(list.FileCount(), 1u);
  EXPECT_EQ(list.FileAt(0), kB);
  fs.log().Clear();
  EXPECT_TRUE(list.RemoveExtractedFiles());
  EXPECT_EQ(fs.log().calls(), (std::vector<std::string>{
      "GetFileAttributesA(" + kB + ")", "DeleteFileA(" + kB + ")",
      "GetFileAttributesA(" + kFolder + ")", "RemoveDirectoryA(" + kFolder + ")"}));
}

TEST_F(CleanupListTest, FolderThatIsAPlainFileIsNeverRemovedOrCleared) {
  fs.AddFile(kFolder, "not a folder");
  list.SetFolder(kFolder);
  for (int attempt = 0; attempt < 2; ++attempt) EXPECT_FALSE(list.RemoveExtractedFiles());
  EXPECT_EQ(list.Folder(), kFolder);
  EXPECT_EQ(fs.Content(kFolder), "not a folder");
  EXPECT_EQ(fs.log().Count("DeleteFileA("), 0u);
  EXPECT_EQ(fs.log().Count("RemoveDirectoryA("), 0u);
}

TEST_F(CleanupListTest, DestructionMakesExactlyOneAttempt) {
  FakeFileSystem f;
  f.AddFolder(kFolder);
  f.AddFile(kA, "locked");
  f.Fail("DeleteFileA", kA);
  {
    CleanupList l(f);
    l.SetFolder(kFolder);
    l.AddFile(kA);
  }
  EXPECT_EQ(f.log().Count("DeleteFileA("), 1u);
  EXPECT_EQ(f.log().Count("RemoveDirectoryA("), 1u);
  EXPECT_TRUE(f.Exists(kA));  // what the attempt could not remove stays on disk
}

}  // namespace
}  // namespace kesmar::testing
