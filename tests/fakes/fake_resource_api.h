// A ResourceApi that serves given bytes as resources, logs every call and fails chosen calls.
#pragma once

#include <map>
#include <string>
#include <utility>

#include "platform/resources.h"
#include "tests/fakes/call_log.h"
#include "tests/fakes/failure_set.h"

namespace kesmar::testing {

// Log lines: "FindResourceA(<name>,<type>)", "LoadResource", "LockResource",
// "SizeofResource".
class FakeResourceApi final : public ResourceApi {
 public:
  explicit FakeResourceApi(CallLog* log = nullptr);

  // Serves `bytes` as resource `name` of `type`; names compare exactly.
  void Add(const std::string& name, const std::string& type, const std::string& bytes);
  // The payload: "#130" of type "RAW".
  void SetPayload(const std::string& bytes) { Add("#130", "RAW", bytes); }
  // Makes matching calls fail; see FailureSet. The argument matched is the
  // name for FindResourceA and empty for the others.
  void Fail(const std::string& operation, const std::string& argument = "", int nth = 0) {
    failures_.Add(operation, argument, nth);
  }

  CallLog& log() { return *log_; }

  ResourceInfo* FindResourceA(const std::string& name, const std::string& type) override;
  ResourceData* LoadResource(ResourceInfo* info) override;
  const void* LockResource(ResourceData* data) override;
  uint32_t SizeofResource(ResourceInfo* info) override;

 private:
  CallLog ownLog_;
  CallLog* log_;
  FailureSet failures_;
  // std::map keeps its values in place, so handles stay valid as more are added.
  std::map<std::pair<std::string, std::string>, std::string> resources_;
};

}  // namespace kesmar::testing
