// A virtual X screen (Xvfb) for kesmar-pack try --screenshot, and its capture as PNG.
#pragma once

#include <string>

#include "kesmar_pack/try/child_process.h"

namespace kesmar {

// Why a screenshot cannot be had here, naming what to install; empty when it can.
std::string ScreenshotProblem();

// One entry of an X authority file: MIT-MAGIC-COOKIE-1 `cookie` for display
// `number` on any host (FamilyWild), as Xvfb's -auth and XAUTHORITY read it.
std::string XauthorityEntry(const std::string& number, const std::string& cookie);

class VirtualScreen {
 public:
  VirtualScreen() = default;
  ~VirtualScreen() { Stop(); }
  VirtualScreen(const VirtualScreen&) = delete;
  VirtualScreen& operator=(const VirtualScreen&) = delete;

  // Starts Xvfb on a display number that is free, 1024x768 in true colour,
  // in `sandbox` when one is given, no TCP. Only a client that holds the
  // cookie, which goes into `authFolder` (which only the run's user may
  // enter) as "Xauthority", may connect.
  bool Start(TryClock::time_point deadline, const SandboxPlan* sandbox, const std::string& authFolder,
             std::string* problem);
  // ":N", once started.
  const std::string& display() const { return display_; }
  // XAUTHORITY for the screen's clients.
  const std::string& authority() const { return authority_; }
  // The whole screen as a PNG file's bytes; `workFolder` takes xwd's dump meanwhile.
  bool Capture(const std::string& workFolder, TryClock::time_point deadline, std::string* png, std::string* problem);
  void Stop();

 private:
  ChildProcess server_;
  std::string display_;
  std::string authority_;
  const SandboxPlan* sandbox_ = nullptr;
  bool running_ = false;
};

}  // namespace kesmar
