// The listing order that makes builds on Linux match builds on Windows.
#include <gtest/gtest.h>

#include <algorithm>

#include "platform/file_system.h"
#include "platform/ntfs_order.h"
#include "tests/support/temp_dir.h"

namespace kesmar::testing {
namespace {

TEST(NtfsOrder, UpperCasedOrdinalComparison) {
  std::vector<std::string> names = {"b", "_x", "A", "a1", "Z", "[", "é", "~", "10", "9"};
  std::sort(names.begin(), names.end(), NtfsNameLess);
  // '_' (0x5F) sorts after upper-case letters but before '~'; "[" is 0x5B.
  const std::vector<std::string> expected = {"10", "9", "A", "a1", "b", "Z", "[", "_x", "~", "é"};
  EXPECT_EQ(names, expected);
}

TEST(PosixListing, YieldsDotsFoldersAndFilesInNtfsOrder) {
  TempDir dir;
  dir.Write("f/zeta", "1");
  dir.Write("f/Beta", "22");
  dir.Write("f/alpha", "");
  std::filesystem::create_directory(dir.path() / "f" / "Sub");
  auto files = CreateNativeFileSystem();
  FindData entry;
  auto search = files->FindFirstFileA((dir.path() / "f").string() + "\\*", &entry);
  ASSERT_TRUE(search);
  std::vector<std::string> seen;
  do {
    seen.push_back(entry.cFileName + ":" + std::to_string(entry.dwFileAttributes & 0x10) + ":" +
                   std::to_string(entry.nFileSizeLow));
  } while (files->FindNextFileA(*search, &entry));
  const std::vector<std::string> expected = {".:16:0", "..:16:0", "alpha:0:0",
                                             "Beta:0:2", "Sub:16:0", "zeta:0:1"};
  EXPECT_EQ(seen, expected);
  EXPECT_FALSE(files->FindFirstFileA((dir.path() / "missing").string() + "\\*", &entry));
}

}  // namespace
}  // namespace kesmar::testing
