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
};

// Runs `request.launcher` and prints the report on `out`; problems that end
// try before the report, one line each, go to `err`. Returns the exit code:
// 0 when the launcher exited with 0 within the time limit and left nothing
// in the temporary folder, 1 otherwise. The Windows build answers that try
// runs on Linux only.
int TryLauncher(const TryRequest& request, std::ostream& out, std::ostream& err);

}  // namespace kesmar
