// One watched run of a launcher in a prepared prefix: kesmar-try-watch.exe's lines, the temporary folder's events, the screen at the limit.
#pragma once

#include <string>

#include "kesmar_pack/try/child_process.h"
#include "kesmar_pack/try/report/try_facts.h"
#include "kesmar_pack/try/screen/virtual_screen.h"
#include "kesmar_pack/try/wine/wine_prefix.h"

namespace kesmar {

struct WatchedRun {
  WineSetting setting;
  std::string watchProgram;   // kesmar-try-watch.exe, as Wine is given it
  std::string launcher;       // its Windows path, as the watcher is given it
  std::string workFolder;     // for the screen's dump
  std::string screenshot;     // where the PNG goes; empty: none
  VirtualScreen* screen = nullptr;
  TryClock::time_point deadline;
  const SandboxPlan* sandbox = nullptr;  // the run's sandbox; null: --no-sandbox
};

// How a watched run left Wine.
enum class RunEnd {
  kWineRunning,  // no sandbox: Wine still runs in the prefix (StopWine ends it)
  kStopped,      // the sandbox ended Wine, which saved the prefix, and ended itself
  kKilled,       // Wine did not stop in time: the sandbox was killed with all in it
  kLeftRunning,  // processes of the sandbox were still there after it was killed
};

// Runs the launcher under kesmar-try-watch.exe until it and all it started
// have ended or the deadline has come, and adds what was seen to `facts`:
// processes, windows at the limit, the temporary and extraction folders and
// the files written there, the screenshot. In a sandbox, Wine is stopped in
// it (wineserver -k, then -w) before the sandbox ends, 30 s at most, and
// the sandbox is killed with all in it when that fails; without one, Wine
// still runs in the prefix afterwards (StopWine ends it). Sets
// facts->problem when the run could not be watched to its end.
RunEnd RunWatched(const WatchedRun& run, TryFacts* facts);

}  // namespace kesmar
