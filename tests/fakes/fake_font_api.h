// A FontApi that records installed fonts and profile entries, logs every call and fails chosen calls.
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/fonts.h"
#include "tests/fakes/call_log.h"
#include "tests/fakes/failure_set.h"

namespace kesmar::testing {

// Log lines: "SHGetFolderLocation(20)", "SHGetPathFromIDListA",
// "CoTaskMemFree", "AddFontResourceA(<path>)", "CreateBroadcastThread",
// "WriteProfileStringA(<section>,<key>,<value>)", "SHGetFolderPathA(28)",
// "SHGetFolderPathW(28)", "RegCreateKeyExA(<subkey>)",
// "RegSetValueExA(<name>,<value>)". Pass the FakeFileSystem's log to see one
// order across both.
class FakeFontApi final : public FontApi {
 public:
  explicit FakeFontApi(CallLog* log = nullptr);
  ~FakeFontApi() override;

  // The path the shell reports for the Fonts folder.
  void SetFontsFolder(const std::string& path) { fontsFolder_ = path; }
  // The local application data folder, as the ANSI and the wide call report it.
  void SetLocalAppData(const std::string& ansi, const std::wstring& wide) {
    localAppData_ = ansi;
    localAppDataW_ = wide;
  }
  // Makes matching calls fail; see FailureSet. The argument matched is the
  // path for AddFontResourceA, the key for WriteProfileStringA, the name
  // for RegSetValueExA, and empty for the others.
  void Fail(const std::string& operation, const std::string& argument = "", int nth = 0) {
    failures_.Add(operation, argument, nth);
  }

  CallLog& log() { return *log_; }
  // Item lists handed out and not yet released.
  int OpenItemLists() const { return openItemLists_; }
  // Fonts successfully added, in order.
  const std::vector<std::string>& AddedFonts() const { return addedFonts_; }
  // Profile entries written, by section and key.
  std::string ProfileValue(const std::string& section, const std::string& key) const;
  // Values set under HKEY_CURRENT_USER, by subkey and name.
  std::string RegistryValue(const std::string& subKey, const std::string& name) const;

  bool SHGetFolderLocation(int csidl, ItemIdList** itemList) override;
  bool SHGetPathFromIDListA(const ItemIdList* itemList, char* buffer) override;
  void CoTaskMemFree(ItemIdList* itemList) override;
  int AddFontResourceA(const std::string& path) override;
  bool WriteProfileStringA(const std::string& section, const std::string& key,
                           const std::string& value) override;
  bool CreateBroadcastThread() override;
  bool SHGetFolderPathA(int csidl, std::string* path) override;
  bool SHGetFolderPathW(int csidl, std::wstring* path) override;
  std::unique_ptr<RegistryKey> RegCreateKeyExA(const std::string& subKey) override;
  bool RegSetValueExA(RegistryKey& key, const std::string& name, const std::string& value) override;

 private:
  CallLog ownLog_;
  CallLog* log_;
  FailureSet failures_;
  std::string fontsFolder_ = "C:\\Windows\\Fonts";
  int openItemLists_ = 0;
  std::vector<std::string> addedFonts_;
  std::map<std::pair<std::string, std::string>, std::string> profile_;
  std::string localAppData_ = "C:\\Users\\user\\AppData\\Local";
  std::wstring localAppDataW_ = L"C:\\Users\\user\\AppData\\Local";
  std::map<std::pair<std::string, std::string>, std::string> registry_;
};

}  // namespace kesmar::testing
