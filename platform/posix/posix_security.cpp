// SecurityApi for Linux hosts: the Unix user as a SID, descriptors that keep their SDDL only.
#include <unistd.h>

#include "platform/security.h"

namespace kesmar {
namespace {

class PosixSecurityDescriptor final : public SecurityDescriptor {
 public:
  explicit PosixSecurityDescriptor(std::string sddl) : sddl_(std::move(sddl)) {}
  const std::string& Sddl() const override { return sddl_; }
  const void* Native() const override { return nullptr; }

 private:
  std::string sddl_;
};

// The host file system has no DACLs: a folder created with any descriptor is
// private to its owner (mode 0700), which is what the launcher's descriptors
// ask for.
class PosixSecurityApi final : public SecurityApi {
 public:
  // S-1-22-1-<uid>: the SID that Windows file servers give a Unix user.
  bool GetTokenUserSid(std::string* sid) override {
    *sid = "S-1-22-1-" + std::to_string(::geteuid());
    return true;
  }

  std::unique_ptr<SecurityDescriptor> ConvertStringSecurityDescriptorToSecurityDescriptorA(
      const std::string& sddl) override {
    return std::make_unique<PosixSecurityDescriptor>(sddl);
  }
};

}  // namespace

std::unique_ptr<SecurityApi> CreateNativeSecurityApi() {
  return std::make_unique<PosixSecurityApi>();
}

}  // namespace kesmar
