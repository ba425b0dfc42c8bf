// A SecurityApi with a chosen token user; descriptors carry only their SDDL.
#pragma once

#include <memory>
#include <string>

#include "platform/security.h"
#include "tests/fakes/call_log.h"
#include "tests/fakes/failure_set.h"

namespace kesmar::testing {

// Log lines: "GetTokenUserSid", "ConvertStringSecurityDescriptorToSecurityDescriptorA(<sddl>)".
class FakeSecurityApi final : public SecurityApi {
 public:
  explicit FakeSecurityApi(CallLog* log = nullptr) : log_(log ? log : &ownLog_) {}

  void SetUserSid(const std::string& sid) { userSid_ = sid; }
  // Makes matching calls fail; see FailureSet. The argument is always empty.
  void Fail(const std::string& operation, const std::string& argument = "", int nth = 0) {
    failures_.Add(operation, argument, nth);
  }

  bool GetTokenUserSid(std::string* sid) override {
    log_->Add("GetTokenUserSid");
    if (failures_.ShouldFail("GetTokenUserSid", "")) return false;
    *sid = userSid_;
    return true;
  }

  std::unique_ptr<SecurityDescriptor> ConvertStringSecurityDescriptorToSecurityDescriptorA(
      const std::string& sddl) override {
    log_->Add("ConvertStringSecurityDescriptorToSecurityDescriptorA(" + sddl + ")");
    if (failures_.ShouldFail("ConvertStringSecurityDescriptorToSecurityDescriptorA", "")) {
      return nullptr;
    }
    return std::make_unique<Descriptor>(sddl);
  }

 private:
  class Descriptor final : public SecurityDescriptor {
   public:
    explicit Descriptor(std::string sddl) : sddl_(std::move(sddl)) {}
    const std::string& Sddl() const override { return sddl_; }
    const void* Native() const override { return nullptr; }

   private:
    std::string sddl_;
  };

  CallLog ownLog_;
  CallLog* log_;
  FailureSet failures_;
  std::string userSid_ = "S-1-5-21-1111-2222-3333-1001";
};

}  // namespace kesmar::testing
