// The process token's user, and security descriptors written as SDDL.
#pragma once

#include <memory>
#include <string>

namespace kesmar {

constexpr char kLocalSystemSid[] = "S-1-5-18";

// A security descriptor built from SDDL; destroying it frees it.
class SecurityDescriptor {
 public:
  virtual ~SecurityDescriptor() = default;
  // The SDDL it was built from.
  virtual const std::string& Sddl() const = 0;
  // The descriptor in the platform's own form (PSECURITY_DESCRIPTOR), for the
  // file system of the same platform to pass on; null where there is none.
  virtual const void* Native() const = 0;
};

class SecurityApi {
 public:
  virtual ~SecurityApi() = default;

  // The SID of the user the process runs as, in string form ("S-1-5-21-…"),
  // from its token (OpenProcessToken, GetTokenInformation(TokenUser),
  // ConvertSidToStringSidA). False when the token cannot tell.
  virtual bool GetTokenUserSid(std::string* sid) = 0;
  // Builds a descriptor from `sddl`; null when the text does not convert.
  virtual std::unique_ptr<SecurityDescriptor> ConvertStringSecurityDescriptorToSecurityDescriptorA(
      const std::string& sddl) = 0;
};

// The security calls of the machine the program runs on. The caller owns it.
std::unique_ptr<SecurityApi> CreateNativeSecurityApi();

}  // namespace kesmar
