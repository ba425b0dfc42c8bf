// The sandbox a run of kesmar-pack try goes in, made by bubblewrap: its policy as one list of arguments, the run's environment, and whether one can be made here.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kesmar {

// What one sandbox is made of. Everything else of the host is read-only,
// and the caller's own folders are hidden.
struct SandboxPlan {
  std::string tmp;                     // the run's own folder that is the sandbox's /tmp
  std::vector<std::string> writable;   // the only folders the run writes: its prefix, its home
  std::vector<std::string> readOnly;   // folders of the run's that it may only read: the launcher, the watcher
  std::vector<std::string> hidden;     // folders replaced by empty ones: homes, /root, /run, caches
  std::string folder;                  // the current folder in the sandbox
  std::vector<std::string> environment;  // NAME=value: the whole of the run's environment
  bool network = false;                  // share the host's network; else only a loopback of its own
  int infoFd = -1;                       // bubblewrap writes its namespaces here as JSON; -1: nowhere
};

// bubblewrap's command line for `plan`, from "bwrap" to "--", after which
// the program and its arguments follow. The one place the policy is stated.
std::vector<std::string> SandboxArguments(const SandboxPlan& plan);

// The folders of the caller that a run must not see, as far as they exist
// here: /home, /root, /run, /var/tmp, /mnt, /media, and $HOME,
// $XDG_CACHE_HOME, $XDG_RUNTIME_DIR where they lie elsewhere. /tmp is
// always replaced by the run's own.
std::vector<std::string> HiddenFolders();

// Adds to `plan->readOnly` the folder of each of `programs` (full paths)
// that the plan would hide or cover with the run's /tmp, so that the Wine
// the caller's PATH names is the one that runs in the sandbox; read-only,
// and that folder alone.
void ShowProgramFolders(const std::vector<std::string>& programs, SandboxPlan* plan);

// Of `caller` (NAME=value entries), the named variables a run of Wine needs
// (PATH, the locale, the time zone, the user's name, WINE*), then `set`,
// which take the place of any of the same name. Nothing else of the caller
// reaches the run.
std::vector<std::string> NamedEnvironment(const std::vector<std::string>& caller,
                                          const std::vector<std::string>& set);

// Why no sandbox can be made here, in one line that names the package to
// install or the kernel setting to change; empty when one can. Makes one.
std::string SandboxProblem();

// The PID namespace that bubblewrap's --info-fd names; 0 when none.
uint64_t PidNamespaceOf(const std::string& info);

// The processes of the machine that live in `pidNamespace`, zombies left
// out: none once a sandbox is gone.
std::vector<int> ProcessesIn(uint64_t pidNamespace);

}  // namespace kesmar
