// FakeFontApi.
#include "tests/fakes/fake_font_api.h"

#include <gtest/gtest.h>

#include <cstring>

#include "platform/file_system.h"

namespace kesmar::testing {
namespace {

// The fake's item lists: heap blocks, so that a double release or a leak
// shows up in the count and under sanitizers.
struct FakeItemList {
  std::string path;
};

struct FakeRegistryKey final : RegistryKey {
  explicit FakeRegistryKey(std::string subKey) : subKey(std::move(subKey)) {}
  std::string subKey;
};

}  // namespace

FakeFontApi::FakeFontApi(CallLog* log) : log_(log ? log : &ownLog_) {}

FakeFontApi::~FakeFontApi() { EXPECT_EQ(openItemLists_, 0) << "an item list was not released"; }

std::string FakeFontApi::ProfileValue(const std::string& section, const std::string& key) const {
  auto it = profile_.find({section, key});
  return it == profile_.end() ? std::string() : it->second;
}

bool FakeFontApi::SHGetFolderLocation(int csidl, ItemIdList** itemList) {
  log_->Add("SHGetFolderLocation(" + std::to_string(csidl) + ")");
  if (failures_.ShouldFail("SHGetFolderLocation", "") || csidl != kCsidlFonts) return false;
  *itemList = reinterpret_cast<ItemIdList*>(new FakeItemList{fontsFolder_});
  ++openItemLists_;
  return true;
}

bool FakeFontApi::SHGetPathFromIDListA(const ItemIdList* itemList, char* buffer) {
  log_->Add("SHGetPathFromIDListA");
  if (failures_.ShouldFail("SHGetPathFromIDListA", "")) return false;
  const auto* list = reinterpret_cast<const FakeItemList*>(itemList);
  if (list->path.size() >= kMaxPath) return false;
  std::memcpy(buffer, list->path.c_str(), list->path.size() + 1);
  return true;
}

void FakeFontApi::CoTaskMemFree(ItemIdList* itemList) {
  log_->Add("CoTaskMemFree");
  delete reinterpret_cast<FakeItemList*>(itemList);
  --openItemLists_;
}

int FakeFontApi::AddFontResourceA(const std::string& path) {
  log_->Add("AddFontResourceA(" + path + ")");
  if (failures_.ShouldFail("AddFontResourceA", path)) return 0;
  addedFonts_.push_back(path);
  return 1;
}

bool FakeFontApi::WriteProfileStringA(const std::string& section, const std::string& key,
                                      const std::string& value) {
  log_->Add("WriteProfileStringA(" + section + "," + key + "," + value + ")");
  if (failures_.ShouldFail("WriteProfileStringA", key)) return false;
  profile_[{section, key}] = value;
  return true;
}

bool FakeFontApi::CreateBroadcastThread() {
  log_->Add("CreateBroadcastThread");
  return !failures_.ShouldFail("CreateBroadcastThread", "");
}

bool FakeFontApi::SHGetFolderPathA(int csidl, std::string* path) {
  log_->Add("SHGetFolderPathA(" + std::to_string(csidl) + ")");
  if (failures_.ShouldFail("SHGetFolderPathA", "") || csidl != kCsidlLocalAppData) return false;
  *path = localAppData_;
  return true;
}

bool FakeFontApi::SHGetFolderPathW(int csidl, std::wstring* path) {
  log_->Add("SHGetFolderPathW(" + std::to_string(csidl) + ")");
  if (failures_.ShouldFail("SHGetFolderPathW", "") || csidl != kCsidlLocalAppData) return false;
  *path = localAppDataW_;
  return true;
}

std::unique_ptr<RegistryKey> FakeFontApi::RegCreateKeyExA(const std::string& subKey) {
  log_->Add("RegCreateKeyExA(" + subKey + ")");
  if (failures_.ShouldFail("RegCreateKeyExA", "")) return nullptr;
  return std::make_unique<FakeRegistryKey>(subKey);
}

bool FakeFontApi::RegSetValueExA(RegistryKey& key, const std::string& name,
                                 const std::string& value) {
  log_->Add("RegSetValueExA(" + name + "," + value + ")");
  if (failures_.ShouldFail("RegSetValueExA", name)) return false;
  registry_[{static_cast<FakeRegistryKey&>(key).subKey, name}] = value;
  return true;
}

std::string FakeFontApi::RegistryValue(const std::string& subKey, const std::string& name) const {
  auto it = registry_.find({subKey, name});
  return it == registry_.end() ? std::string() : it->second;
}

}  // namespace kesmar::testing
