// The resources embedded in the executable itself, read through the Win32 resource calls.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace kesmar {

// Opaque handles: a found resource (HRSRC) and a loaded one (HGLOBAL). Null
// means failure; neither needs to be released.
struct ResourceInfo;
struct ResourceData;

// Every call works on the executable's own module (no module handle).
class ResourceApi {
 public:
  virtual ~ResourceApi() = default;

  // Finds the resource `name` (a name, or "#" and a number, as in "#130") of
  // `type` (such as "RAW"); null when there is none.
  virtual ResourceInfo* FindResourceA(const std::string& name, const std::string& type) = 0;
  // Loads a found resource; null on failure.
  virtual ResourceData* LoadResource(ResourceInfo* info) = 0;
  // The first byte of a loaded resource, valid for the life of the process;
  // null on failure.
  virtual const void* LockResource(ResourceData* data) = 0;
  // The size in bytes of a found resource; 0 on failure.
  virtual uint32_t SizeofResource(ResourceInfo* info) = 0;
};

// The resources of the running executable. The caller owns the object.
std::unique_ptr<ResourceApi> CreateNativeResourceApi();

}  // namespace kesmar
