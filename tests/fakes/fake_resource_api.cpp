// FakeResourceApi.
#include "tests/fakes/fake_resource_api.h"

namespace kesmar::testing {

// A handle of either kind is the address of the resource's bytes string.
FakeResourceApi::FakeResourceApi(CallLog* log) : log_(log ? log : &ownLog_) {}

void FakeResourceApi::Add(const std::string& name, const std::string& type,
                          const std::string& bytes) {
  resources_[{name, type}] = bytes;
}

ResourceInfo* FakeResourceApi::FindResourceA(const std::string& name, const std::string& type) {
  log_->Add("FindResourceA(" + name + "," + type + ")");
  if (failures_.ShouldFail("FindResourceA", name)) return nullptr;
  auto it = resources_.find({name, type});
  if (it == resources_.end()) return nullptr;
  return reinterpret_cast<ResourceInfo*>(&it->second);
}

ResourceData* FakeResourceApi::LoadResource(ResourceInfo* info) {
  log_->Add("LoadResource");
  if (failures_.ShouldFail("LoadResource", "")) return nullptr;
  return reinterpret_cast<ResourceData*>(info);
}

const void* FakeResourceApi::LockResource(ResourceData* data) {
  log_->Add("LockResource");
  if (failures_.ShouldFail("LockResource", "")) return nullptr;
  return reinterpret_cast<std::string*>(data)->data();
}

uint32_t FakeResourceApi::SizeofResource(ResourceInfo* info) {
  log_->Add("SizeofResource");
  if (failures_.ShouldFail("SizeofResource", "")) return 0;
  return uint32_t(reinterpret_cast<std::string*>(info)->size());
}

}  // namespace kesmar::testing
