// The DLL-search restriction on Wine: a DLL beside the program loads before it and not after.
#include <gtest/gtest.h>

#include "launcher/dll_search.h"
#include "platform/win32/windows_api.h"

namespace kesmar::testing {
namespace {

// kesmar_planted.dll is built beside win32_tests.exe, as a planted DLL would
// sit beside the launcher in a Downloads folder. The restriction holds for
// the rest of the process; nothing else here loads a DLL from our folder.
TEST(DllSearchOnWindows, PlantedDllBesideTheProgramIsNoLongerLoaded) {
  HMODULE before = ::LoadLibraryA("kesmar_planted.dll");
  ASSERT_NE(before, nullptr) << "the planted DLL should load while the search is Windows' own";
  ::FreeLibrary(before);
  ASSERT_EQ(::GetModuleHandleA("kesmar_planted.dll"), nullptr);

  ASSERT_TRUE(RestrictDllSearchToSystemFolder()) << "SetDefaultDllDirectories missing or refused";

  HMODULE after = ::LoadLibraryA("kesmar_planted.dll");
  EXPECT_EQ(after, nullptr) << "loaded from beside the program despite the restriction";
  if (after != nullptr) ::FreeLibrary(after);
  // The system's own DLLs, loaded by name as the launcher's imports are, still load.
  HMODULE system = ::LoadLibraryA("version.dll");
  EXPECT_NE(system, nullptr);
  if (system != nullptr) ::FreeLibrary(system);
}

}  // namespace
}  // namespace kesmar::testing
