// A virtual X screen (Xvfb) for kesmar-pack try --screenshot, and its capture as PNG.
#pragma once

#include <string>

#include "kesmar_pack/try/child_process.h"

namespace kesmar {

// Why a screenshot cannot be had here, naming what to install; empty when it can.
std::string ScreenshotProblem();

class VirtualScreen {
 public:
  VirtualScreen() = default;
  ~VirtualScreen() { Stop(); }
  VirtualScreen(const VirtualScreen&) = delete;
  VirtualScreen& operator=(const VirtualScreen&) = delete;

  // Starts Xvfb on a display number that is free, 1024x768 in true colour.
  bool Start(TryClock::time_point deadline, std::string* problem);
  // ":N", once started.
  const std::string& display() const { return display_; }
  // The whole screen as a PNG file's bytes; `workFolder` takes xwd's dump meanwhile.
  bool Capture(const std::string& workFolder, TryClock::time_point deadline, std::string* png, std::string* problem);
  void Stop();

 private:
  ChildProcess server_;
  std::string display_;
  bool running_ = false;
};

}  // namespace kesmar
