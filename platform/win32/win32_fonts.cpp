// FontApi over the real shell, GDI and profile calls; the broadcast runs on a thread of its own.
#include "platform/fonts.h"

// windows.h first, with our settings; shlobj.h would otherwise pull it in without them.
#include "platform/win32/windows_api.h"

#include <process.h>
#include <shlobj.h>

#include <cstring>
#include <cwchar>

#include "platform/win32/broadcast_font_change.h"

namespace kesmar {

unsigned __stdcall BroadcastFontChange(void*) {
  // SendMessageW waits for every top-level window in turn, and a hung one can
  // hold it up for long; that is why it runs on a thread nobody waits for.
  ::SendMessageW(HWND_BROADCAST, WM_FONTCHANGE, 0, 0);
  return 1;
}

namespace {

class Win32RegistryKey final : public RegistryKey {
 public:
  explicit Win32RegistryKey(HKEY key) : key(key) {}
  ~Win32RegistryKey() override { ::RegCloseKey(key); }
  HKEY key;
};

class Win32FontApi final : public FontApi {
 public:
  bool SHGetFolderLocation(int csidl, ItemIdList** itemList) override {
    PIDLIST_ABSOLUTE list = nullptr;
    if (::SHGetFolderLocation(nullptr, csidl, nullptr, 0, &list) != S_OK) return false;
    *itemList = reinterpret_cast<ItemIdList*>(list);
    return true;
  }

  bool SHGetPathFromIDListA(const ItemIdList* itemList, char* buffer) override {
    return ::SHGetPathFromIDListA(reinterpret_cast<PCIDLIST_ABSOLUTE>(itemList), buffer) != FALSE;
  }

  void CoTaskMemFree(ItemIdList* itemList) override { ::CoTaskMemFree(itemList); }

  int AddFontResourceA(const std::string& path) override {
    return ::AddFontResourceA(path.c_str());
  }

  bool WriteProfileStringA(const std::string& section, const std::string& key,
                           const std::string& value) override {
    return ::WriteProfileStringA(section.c_str(), key.c_str(), value.c_str()) != FALSE;
  }

  bool CreateBroadcastThread() override {
    // _beginthreadex rather than CreateThread, so that the runtime's
    // per-thread data is set up should the thread ever need it.
    const uintptr_t thread =
        ::_beginthreadex(nullptr, 0, &BroadcastFontChange, nullptr, 0, nullptr);
    if (thread == 0) return false;
    ::CloseHandle(reinterpret_cast<HANDLE>(thread));
    return true;
  }

  bool SHGetFolderPathA(int csidl, std::string* path) override {
    char buffer[MAX_PATH] = {};
    if (::SHGetFolderPathA(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, buffer) != S_OK) {
      return false;
    }
    path->assign(buffer, strnlen(buffer, MAX_PATH));
    return true;
  }

  bool SHGetFolderPathW(int csidl, std::wstring* path) override {
    wchar_t buffer[MAX_PATH] = {};
    if (::SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, buffer) != S_OK) {
      return false;
    }
    path->assign(buffer, wcsnlen(buffer, MAX_PATH));
    return true;
  }

  std::unique_ptr<RegistryKey> RegCreateKeyExA(const std::string& subKey) override {
    HKEY key = nullptr;
    if (::RegCreateKeyExA(HKEY_CURRENT_USER, subKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                          KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS) {
      return nullptr;
    }
    return std::make_unique<Win32RegistryKey>(key);
  }

  bool RegSetValueExA(RegistryKey& key, const std::string& name,
                      const std::string& value) override {
    return ::RegSetValueExA(static_cast<Win32RegistryKey&>(key).key, name.c_str(), 0, REG_SZ,
                            reinterpret_cast<const BYTE*>(value.c_str()),
                            DWORD(value.size() + 1)) == ERROR_SUCCESS;
  }
};

}  // namespace

std::unique_ptr<FontApi> CreateNativeFontApi() { return std::make_unique<Win32FontApi>(); }

}  // namespace kesmar
