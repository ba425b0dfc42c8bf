// ExtractionFolderSddl and ExtractionFolderDescriptor.
#include "launcher/folder_security.h"

namespace kesmar {

// A folder made with no descriptor inherits the temporary folder's ACL. Where
// that is C:\Windows\Temp (a setup started as SYSTEM), every local user may
// create files in a new subfolder, and its names are predictable: a DLL
// planted beside the setup program would then be loaded by it. A protected
// DACL that lets in only the launcher's own user, SYSTEM and the
// Administrators closes that; the setup program runs with the launcher's
// token, so it keeps full control of its folder.
std::string ExtractionFolderSddl(const std::string& userSid) {
  std::string sddl = "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
  if (userSid != kLocalSystemSid) sddl += "(A;OICI;FA;;;" + userSid + ")";
  return sddl;
}

std::unique_ptr<SecurityDescriptor> ExtractionFolderDescriptor(SecurityApi& security) {
  std::string sid;
  if (!security.GetTokenUserSid(&sid) || sid.empty()) return nullptr;
  return security.ConvertStringSecurityDescriptorToSecurityDescriptorA(ExtractionFolderSddl(sid));
}

}  // namespace kesmar
