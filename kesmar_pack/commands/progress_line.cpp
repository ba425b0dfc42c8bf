// ProgressLine and the byte-count formatting it uses.
#include "kesmar_pack/commands/progress_line.h"

#include <algorithm>
#include <cstdio>

namespace kesmar {

std::string HumanBytes(uint64_t bytes) {
  static const char* const kUnits[] = {"KiB", "MiB", "GiB"};
  if (bytes < 1024) return std::to_string(bytes) + " B";
  double value = double(bytes) / 1024;
  size_t unit = 0;
  while (value >= 1024 && unit + 1 < sizeof kUnits / sizeof kUnits[0]) {
    value /= 1024;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
  return text;
}

ProgressLine::ProgressLine(std::ostream& out, bool enabled, std::string label)
    : out_(out), enabled_(enabled), label_(std::move(label)), start_(Clock::now()) {}

ProgressLine::~ProgressLine() { Clear(); }

void ProgressLine::Update(uint64_t done, uint64_t total) {
  if (!enabled_) return;
  const Clock::time_point now = Clock::now();
  if (drawn_ && done < total && now - lastDraw_ < std::chrono::milliseconds(100)) return;
  lastDraw_ = now;

  const double seconds = std::chrono::duration<double>(now - start_).count();
  const unsigned percent = total == 0 ? 100 : unsigned(done * 100 / total);
  std::string line = label_ + "  " + HumanBytes(done) + " / " + HumanBytes(total) + "  " +
                     std::to_string(percent) + "%";
  if (seconds > 0.01) line += "  " + HumanBytes(uint64_t(double(done) / seconds)) + "/s";
  // Blanks wipe what a longer earlier line left behind.
  const size_t width = line.size();
  if (width < width_) line.append(width_ - width, ' ');
  width_ = std::max(width_, width);
  out_ << '\r' << line << std::flush;
  drawn_ = true;
}

void ProgressLine::Clear() {
  if (!drawn_) return;
  out_ << '\r' << std::string(width_, ' ') << '\r' << std::flush;
  drawn_ = false;
  width_ = 0;
}

}  // namespace kesmar
