// kesmar-pack try: runs a launcher under Wine in a throwaway prefix and reports what it did.
#pragma once

#include <ostream>
#include <string>

namespace kesmar {

constexpr int kTryDefaultSeconds = 300;

struct TryRequest {
  std::string launcher;             // the file to run
  int timeLimit = kTryDefaultSeconds;  // seconds, for the whole run
  std::string keep;                 // keep the prefix in this new folder; empty: remove it
  std::string json;                 // write the facts as JSON here; empty: none
  std::string screenshot;           // at the time limit, save the virtual screen here as PNG
  bool any = false;                 // run a Windows program without a launcher payload all the same
  bool network = false;             // the sandbox shares the host's network
  bool noSandbox = false;           // run without bubblewrap's sandbox: not isolated
};

// Runs `request.launcher` and prints the report on `out`; problems that end
// try before the report, one line each, go to `err`. With `request.json`,
// the facts are written there whatever ends the run, a refusal included.
// Returns the exit code: 0 when the run passed (TryFailureReasons has none),
// 1 otherwise. The Windows build answers that try runs on Linux only.
int TryLauncher(const TryRequest& request, std::ostream& out, std::ostream& err);

}  // namespace kesmar
