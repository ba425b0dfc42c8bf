// ResourceApi over the real Win32 resource calls, on the executable's own module.
#include "platform/resources.h"

#include "platform/win32/windows_api.h"

namespace kesmar {
namespace {

HRSRC ToHrsrc(ResourceInfo* info) { return reinterpret_cast<HRSRC>(info); }

class Win32ResourceApi final : public ResourceApi {
 public:
  ResourceInfo* FindResourceA(const std::string& name, const std::string& type) override {
    return reinterpret_cast<ResourceInfo*>(::FindResourceA(nullptr, name.c_str(), type.c_str()));
  }

  ResourceData* LoadResource(ResourceInfo* info) override {
    return reinterpret_cast<ResourceData*>(::LoadResource(nullptr, ToHrsrc(info)));
  }

  const void* LockResource(ResourceData* data) override {
    return ::LockResource(reinterpret_cast<HGLOBAL>(data));
  }

  uint32_t SizeofResource(ResourceInfo* info) override {
    return ::SizeofResource(nullptr, ToHrsrc(info));
  }
};

}  // namespace

std::unique_ptr<ResourceApi> CreateNativeResourceApi() {
  return std::make_unique<Win32ResourceApi>();
}

}  // namespace kesmar
