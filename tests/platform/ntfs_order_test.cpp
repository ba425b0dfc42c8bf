// The listing order that makes builds on Linux match builds on Windows.
#include <gtest/gtest.h>

#include <locale.h>
#include <sys/stat.h>
#include <wctype.h>

#include <algorithm>

#include "platform/file_system.h"
#include "platform/ntfs_order.h"
#include "platform/security.h"
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

// The table both builds share holds what the C library of this machine says,
// unit for unit: a table made by another Unicode version would show here.
TEST(NtfsOrder, UpcaseTableIsTheCLibrarysSimpleUpperCase) {
  const locale_t unicode = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t(0));
  ASSERT_NE(unicode, locale_t(0));
  for (uint32_t unit = 0; unit <= 0xFFFF; ++unit) {
    const wint_t upper = (unit >= 0xD800 && unit <= 0xDFFF) ? unit : towupper_l(wint_t(unit), unicode);
    ASSERT_EQ(uint32_t(NtfsUpcase(char16_t(unit))), upper <= 0xFFFF ? upper : unit) << std::hex << unit;
  }
  freelocale(unicode);
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

// Host names are UTF-8: every character has a form, a lone surrogate none.
TEST(PosixNames, WideFormsRoundTripAndPrivateFolders) {
  auto files = CreateNativeFileSystem();
  for (const std::string name : {"plain", "caf\xC3\xA9", "\xE6\x97\xA5\xE6\x9C\xAC",
                                 "\xF0\x9D\x84\x9E clef"}) {
    std::string back;
    ASSERT_TRUE(files->WideCharToMultiByte(files->MultiByteToWideChar(name), &back)) << name;
    EXPECT_EQ(back, name);
  }
  EXPECT_EQ(files->MultiByteToWideChar("\xF0\x9D\x84\x9E").size(), 2u);  // a surrogate pair
  std::string ignored;
  EXPECT_FALSE(files->WideCharToMultiByte(std::wstring(1, wchar_t(0xD800)), &ignored));

  struct Descriptor final : SecurityDescriptor {
    const std::string& Sddl() const override { return sddl; }
    const void* Native() const override { return nullptr; }
    std::string sddl = "D:P";
  } own;
  TempDir dir;
  ASSERT_TRUE(files->CreateDirectoryA(dir.path().string() + "\\own", &own));
  struct stat st;
  ASSERT_EQ(::stat((dir.path() / "own").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
}

}  // namespace
}  // namespace kesmar::testing
