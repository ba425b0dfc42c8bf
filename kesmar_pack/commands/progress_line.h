// A one-line progress indicator on a terminal: bytes done and total, percentage, rate.
#pragma once

#include <chrono>
#include <cstdint>
#include <ostream>
#include <string>

namespace kesmar {

// Draws "label  done / total  pct%  rate" in place with a carriage return and
// wipes it at the end. Disabled, it writes nothing at all, so callers need
// not ask whether the stream is a terminal.
class ProgressLine {
 public:
  ProgressLine(std::ostream& out, bool enabled, std::string label);
  ~ProgressLine();
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  // Redraws at most ten times a second, but always for the first and the
  // final (done == total) update.
  void Update(uint64_t done, uint64_t total);
  // Wipes the line, leaving the cursor at its start. Called by the destructor.
  void Clear();

 private:
  using Clock = std::chrono::steady_clock;
  std::ostream& out_;
  bool enabled_;
  std::string label_;
  Clock::time_point start_;
  Clock::time_point lastDraw_;
  bool drawn_ = false;
  size_t width_ = 0;
};

// 1536 -> "1.5 KiB"; below 1 KiB the exact count, "512 B".
std::string HumanBytes(uint64_t bytes);

}  // namespace kesmar
