// SecurityApi over the token and SDDL calls of advapi32.
#include "platform/security.h"

#include "platform/win32/unique_handle.h"
#include "platform/win32/windows_api.h"

#include <sddl.h>

#include <vector>

namespace kesmar {
namespace {

struct LocalMemPolicy {
  using Handle = void*;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle p) { ::LocalFree(p); }
};
using UniqueLocalMem = UniqueHandle<LocalMemPolicy>;

class Win32SecurityDescriptor final : public SecurityDescriptor {
 public:
  Win32SecurityDescriptor(std::string sddl, PSECURITY_DESCRIPTOR descriptor)
      : sddl_(std::move(sddl)), descriptor_(descriptor) {}
  const std::string& Sddl() const override { return sddl_; }
  const void* Native() const override { return descriptor_.get(); }

 private:
  std::string sddl_;
  UniqueLocalMem descriptor_;
};

class Win32SecurityApi final : public SecurityApi {
 public:
  bool GetTokenUserSid(std::string* sid) override {
    HANDLE raw = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw)) return false;
    const UniqueKernelHandle token(raw);
    DWORD size = 0;
    ::GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    if (size < sizeof(TOKEN_USER)) return false;
    std::vector<unsigned char> buffer(size);
    if (!::GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size)) return false;
    char* text = nullptr;
    if (!::ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &text)) {
      return false;
    }
    const UniqueLocalMem owned(text);
    sid->assign(text);
    return true;
  }

  std::unique_ptr<SecurityDescriptor> ConvertStringSecurityDescriptorToSecurityDescriptorA(
      const std::string& sddl) override {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1,
                                                                 &descriptor, nullptr)) {
      return nullptr;
    }
    return std::make_unique<Win32SecurityDescriptor>(sddl, descriptor);
  }
};

}  // namespace

std::unique_ptr<SecurityApi> CreateNativeSecurityApi() {
  return std::make_unique<Win32SecurityApi>();
}

}  // namespace kesmar
