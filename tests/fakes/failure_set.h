// Failure injection shared by the fakes: which calls of which operation fail.
#pragma once

#include <string>
#include <vector>

namespace kesmar::testing {

class FailureSet {
 public:
  // Makes matching calls fail. An empty `argument` matches any argument;
  // `nth` counts matching calls from 1, and 0 fails every matching call.
  void Add(const std::string& operation, const std::string& argument, int nth) {
    failures_.push_back({operation, argument, nth, 0});
  }
  void Clear() { failures_.clear(); }

  // Counts this call and tells whether it is to fail.
  bool ShouldFail(const std::string& operation, const std::string& argument) {
    bool fail = false;
    for (Failure& failure : failures_) {
      if (failure.operation != operation) continue;
      if (!failure.argument.empty() && failure.argument != argument) continue;
      ++failure.seen;
      if (failure.nth == 0 || failure.nth == failure.seen) fail = true;
    }
    return fail;
  }

 private:
  struct Failure {
    std::string operation;
    std::string argument;
    int nth;
    int seen;
  };
  std::vector<Failure> failures_;
};

}  // namespace kesmar::testing
