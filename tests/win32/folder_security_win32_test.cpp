// The extraction folder's descriptor through advapi32, and the DACL that a folder created with it reads back with.
#include <gtest/gtest.h>

// windows.h first, with our settings.
#include "platform/win32/windows_api.h"

#include <sddl.h>

#include <vector>

#include "launcher/folder_security.h"
#include "platform/file_system.h"
#include "tests/support/temp_dir.h"

namespace kesmar::testing {
namespace {

// The DACL part of a descriptor as SDDL; empty when it does not convert.
std::string DaclSddl(PSECURITY_DESCRIPTOR descriptor) {
  char* text = nullptr;
  if (!::ConvertSecurityDescriptorToStringSecurityDescriptorA(
          descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr)) {
    return std::string();
  }
  std::string sddl = text;
  ::LocalFree(text);
  return sddl;
}

// The DACL of a file or folder on disk, as SDDL.
std::string DaclOnDisk(const std::string& path) {
  DWORD size = 0;
  ::GetFileSecurityA(path.c_str(), DACL_SECURITY_INFORMATION, nullptr, 0, &size);
  std::vector<unsigned char> buffer(size);
  if (size == 0 || !::GetFileSecurityA(path.c_str(), DACL_SECURITY_INFORMATION, buffer.data(),
                                       size, &size)) {
    return std::string();
  }
  return DaclSddl(buffer.data());
}

// The descriptor converts back to exactly its SDDL. A folder made without a
// descriptor of its own inherits the temporary folder's ACEs, Everyone's
// among them here; one made with it has only its own. Wine keeps a DACL as
// Unix mode bits and reads back what they can say: the protection flag and
// the Administrators' ACE do not survive there, so they are not asked for.
TEST(FolderSecurityOnWindows, DescriptorAndTheFolderMadeWithIt) {
  auto security = CreateNativeSecurityApi();
  auto files = CreateNativeFileSystem();
  std::string user;
  ASSERT_TRUE(security->GetTokenUserSid(&user));
  EXPECT_EQ(user.rfind("S-1-5-", 0), 0u) << user;
  const auto descriptor = ExtractionFolderDescriptor(*security);
  ASSERT_NE(descriptor, nullptr);
  EXPECT_EQ(DaclSddl(const_cast<void*>(descriptor->Native())),
            "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;" + user + ")");

  TempDir dir;
  const std::string inherited = dir.path().string() + "\\inherited";
  const std::string own = dir.path().string() + "\\own";
  ASSERT_TRUE(files->CreateDirectoryA(inherited, nullptr));
  ASSERT_TRUE(files->CreateDirectoryA(own, descriptor.get()));
  EXPECT_FALSE(files->CreateDirectoryA(own, descriptor.get())) << "an existing folder is taken";
  const std::string ownDacl = DaclOnDisk(own);
  EXPECT_EQ(ownDacl.find(";;;WD)"), std::string::npos) << ownDacl;
  EXPECT_NE(ownDacl.find(";;;" + user + ")"), std::string::npos) << ownDacl;
  EXPECT_NE(DaclOnDisk(inherited).find(";;;WD)"), std::string::npos) << DaclOnDisk(inherited);
}

}  // namespace
}  // namespace kesmar::testing
