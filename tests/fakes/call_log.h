// The ordered record of platform calls that the fakes share.
#pragma once

#include <string>
#include <vector>

namespace kesmar::testing {

class CallLog {
 public:
  void Add(const std::string& call) { calls_.push_back(call); }
  const std::vector<std::string>& calls() const { return calls_; }
  // The calls whose text starts with `prefix`, e.g. "DeleteFileA(".
  std::vector<std::string> Matching(const std::string& prefix) const {
    std::vector<std::string> found;
    for (const auto& call : calls_) {
      if (call.compare(0, prefix.size(), prefix) == 0) found.push_back(call);
    }
    return found;
  }
  size_t Count(const std::string& prefix) const { return Matching(prefix).size(); }
  void Clear() { calls_.clear(); }

 private:
  std::vector<std::string> calls_;
};

}  // namespace kesmar::testing
