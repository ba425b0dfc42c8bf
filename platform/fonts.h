// The shell, font-table and profile calls that install a font, and the font-change broadcast.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace kesmar {

constexpr int kCsidlFonts = 0x14;         // CSIDL_FONTS
constexpr int kCsidlLocalAppData = 0x1C;  // CSIDL_LOCAL_APPDATA

// An open key of HKEY_CURRENT_USER; destroying it closes it (RegCloseKey).
class RegistryKey {
 public:
  virtual ~RegistryKey() = default;
};

// An opaque shell item list (PIDLIST_ABSOLUTE), released with CoTaskMemFree.
struct ItemIdList;

// Paths and profile strings are 8-bit ANSI strings.
class FontApi {
 public:
  virtual ~FontApi() = default;

  // SHGetFolderLocation(no window, `csidl`, no token, 0). True (S_OK) with
  // *itemList set, which the caller releases with CoTaskMemFree; false with
  // nothing to release.
  virtual bool SHGetFolderLocation(int csidl, ItemIdList** itemList) = 0;
  // Writes the path of `itemList` into `buffer`, which has room for kMaxPath
  // characters; true when the path was written.
  virtual bool SHGetPathFromIDListA(const ItemIdList* itemList, char* buffer) = 0;
  // Releases an item list that SHGetFolderLocation returned.
  virtual void CoTaskMemFree(ItemIdList* itemList) = 0;

  // Adds the font file at `path` to the system font table; the number of
  // fonts added, 0 on failure.
  virtual int AddFontResourceA(const std::string& path) = 0;
  // Writes `key`=`value` into `section` of the user profile (win.ini or its
  // registry mapping); true on success.
  virtual bool WriteProfileStringA(const std::string& section, const std::string& key,
                                   const std::string& value) = 0;
  // Starts a thread that runs BroadcastFontChange: WM_FONTCHANGE, both
  // parameters 0, sent to HWND_BROADCAST. Nothing waits for the thread and no
  // handle to it is kept. True when the thread was started.
  virtual bool CreateBroadcastThread() = 0;

  // SHGetFolderPathA(no window, `csidl`, no token, SHGFP_TYPE_CURRENT): the
  // folder's path in the ANSI code page; false unless S_OK.
  virtual bool SHGetFolderPathA(int csidl, std::string* path) = 0;
  // The same folder's path in UTF-16 (SHGetFolderPathW).
  virtual bool SHGetFolderPathW(int csidl, std::wstring* path) = 0;
  // Opens `subKey` of HKEY_CURRENT_USER for setting values, creating it and
  // its missing parents (RegCreateKeyExA); null on failure.
  virtual std::unique_ptr<RegistryKey> RegCreateKeyExA(const std::string& subKey) = 0;
  // Sets `name` = `value` as REG_SZ under `key` (RegSetValueExA); true on success.
  virtual bool RegSetValueExA(RegistryKey& key, const std::string& name,
                              const std::string& value) = 0;
};

// The fonts of the machine the program runs on. The caller owns the object;
// broadcast threads do not use it, so it may go before they end.
std::unique_ptr<FontApi> CreateNativeFontApi();

}  // namespace kesmar
