// Programs that kesmar-pack try starts (wine, wineserver, Xvfb, xwd): each in a process group of its own, with a deadline.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace kesmar {

struct SandboxPlan;

using TryClock = std::chrono::steady_clock;

struct ChildOptions {
  std::vector<std::string> argv;         // argv[0] is looked up in PATH
  std::vector<std::string> environment;  // NAME=value, the whole of it
  std::string folder;                    // its current folder; empty: ours
  bool pipeInput = false;                // a pipe to its stdin, else /dev/null
  bool pipeOutput = false;               // a pipe from its stdout, else /dev/null
  bool pipeErrors = false;               // a pipe from its stderr, else /dev/null
  bool pipeControl = false;              // a pipe to its descriptor 3 (control())
  bool pipeInfo = false;                 // a pipe from its descriptor 4 (info())
  // Run inside the sandbox this plan describes, with `environment` as the
  // sandbox's; null: as it is.
  const SandboxPlan* sandbox = nullptr;
};

// A started program. Its process group is its own, so that Ctrl-C on the
// terminal reaches only kesmar-pack, which then ends the run in order.
class ChildProcess {
 public:
  ChildProcess() = default;
  // A program still running is killed, with its group, and reaped.
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // False, with `problem` set, when it could not be started.
  bool Start(const ChildOptions& options, std::string* problem);
  // True once it has ended; its wait status in `status`. Does not block.
  bool Ended(int* status);
  // Sends `signal` to its process group.
  void SignalGroup(int signal);
  // Kills the group and reaps the program.
  void Kill();

  int input() const { return input_; }
  int output() const { return output_; }
  int errors() const { return errors_; }
  int control() const { return control_; }
  int info() const { return info_; }
  void CloseInput();
  void CloseControl();
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
  bool reaped_ = false;
  int status_ = 0;
  int input_ = -1;
  int output_ = -1;
  int errors_ = -1;
  int control_ = -1;
  int info_ = -1;
};

// Reads what there is to read from `fd` (non-blocking) onto `text`; false at
// its end.
bool ReadAvailable(int fd, std::string* text);

// Runs a program to its end; false when `deadline` came first (the program
// is then killed), when a stop was asked for and `heedStop` is set, or when
// it could not start. Its stdout, and its stderr after it, go to `output`
// when that is given. Clean-up runs (ending Wine) do not heed a stop.
bool RunToEnd(const ChildOptions& options, TryClock::time_point deadline, int* status, std::string* output,
              std::string* problem, bool heedStop = true);

// The first executable file named `name` in PATH; empty when there is none.
std::string FindInPath(const std::string& name);

// SIGINT and SIGTERM, while kesmar-pack try runs, only ask the run to stop,
// so that it can end Wine and remove its prefix; SIGPIPE is ignored. The
// destructor puts the previous handlers back and, if a signal came, raises
// it again.
class StopSignals {
 public:
  StopSignals();
  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;
};

// Whether SIGINT or SIGTERM came since StopSignals was made.
bool StopRequested();

}  // namespace kesmar
