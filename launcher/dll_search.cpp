// RestrictDllSearchToSystemFolder, with SetDefaultDllDirectories found at run time.
#include "launcher/dll_search.h"

#include "platform/win32/windows_api.h"

namespace kesmar {

bool RestrictDllSearchToSystemFolder() {
  using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
  // kernel32 is always loaded, so this loads nothing from any folder.
  const HMODULE kernel32 = ::GetModuleHandleW(L"kernel32.dll");
  if (kernel32 == nullptr) return false;
  const FARPROC found = ::GetProcAddress(kernel32, "SetDefaultDllDirectories");
  if (found == nullptr) return false;
  // Through void(*)() so that the cast between function types is explicit.
  const auto setDefaultDllDirectories = reinterpret_cast<SetDefaultDllDirectoriesFunction>(
      reinterpret_cast<void (*)()>(found));
  return setDefaultDllDirectories(kLoadLibrarySearchSystem32) != FALSE;
}

}  // namespace kesmar
