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
  std::string watchProgram;   // kesmar-try-watch.exe
  std::string launcher;       // host path
  std::string workFolder;     // for the screen's dump
  std::string screenshot;     // where the PNG goes; empty: none
  VirtualScreen* screen = nullptr;
  TryClock::time_point deadline;
};

// Runs the launcher under kesmar-try-watch.exe until it and all it started
// have ended or the deadline has come, and adds what was seen to `facts`:
// processes, windows at the limit, the temporary and extraction folders and
// the files written there, the screenshot. Wine is still running in the
// prefix afterwards (StopWine ends it). Sets facts->problem when the run
// could not be watched to its end.
void RunWatched(const WatchedRun& run, TryFacts* facts);

}  // namespace kesmar
