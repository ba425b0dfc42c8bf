// bubblewrap's arguments for a run, the named environment, and the check that a sandbox can be made.
#include "kesmar_pack/try/sandbox.h"

#include <dirent.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "kesmar_pack/try/child_process.h"

namespace kesmar {
namespace {

bool IsFolder(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool Under(const std::string& path, const std::string& folder) {
  return path == folder || (path.compare(0, folder.size(), folder) == 0 && path.size() > folder.size() &&
                            (folder.back() == '/' || path[folder.size()] == '/'));
}

std::string Setting(const char* file) {
  std::ifstream in(file);
  std::string value;
  std::getline(in, value);
  return value;
}

}  // namespace

std::vector<std::string> SandboxArguments(const SandboxPlan& plan) {
  std::vector<std::string> args = {
      "bwrap",
      // Namespaces of its own: users, mounts, processes, IPC, host name, cgroups where it can.
      "--unshare-user", "--unshare-pid", "--unshare-ipc", "--unshare-uts", "--unshare-cgroup-try"};
  if (!plan.network) args.push_back("--unshare-net");
  // Nothing of the run outlives try: bubblewrap dies with it, and the
  // PID namespace's init with bubblewrap, which takes every process in it.
  // No capabilities; no terminal to push keystrokes into.
  for (const char* arg : {"--die-with-parent", "--new-session", "--cap-drop", "ALL"}) args.push_back(arg);
  // The host read-only, a /dev and /proc of its own.
  for (const char* arg : {"--ro-bind", "/", "/", "--dev", "/dev", "--proc", "/proc"}) args.push_back(arg);
  for (const std::string& folder : plan.hidden) {
    if (folder == "/tmp") continue;
    args.insert(args.end(), {"--tmpfs", folder});
  }
  // /tmp is the run's own, the same for each program of the run (Wine's
  // server and the X server keep their sockets there).
  args.insert(args.end(), {"--bind", plan.tmp, "/tmp"});
  for (const std::string& folder : plan.writable) args.insert(args.end(), {"--bind", folder, folder});
  for (const std::string& folder : plan.readOnly) args.insert(args.end(), {"--ro-bind", folder, folder});
  if (!plan.folder.empty()) args.insert(args.end(), {"--chdir", plan.folder});
  args.push_back("--clearenv");
  for (const std::string& entry : plan.environment) {
    const size_t equals = entry.find('=');
    if (equals == std::string::npos || equals == 0) continue;
    args.insert(args.end(), {"--setenv", entry.substr(0, equals), entry.substr(equals + 1)});
  }
  if (plan.infoFd >= 0) args.insert(args.end(), {"--info-fd", std::to_string(plan.infoFd)});
  args.push_back("--");
  return args;
}

std::vector<std::string> HiddenFolders() {
  std::vector<std::string> hidden;
  auto hide = [&](const std::string& folder) {
    if (folder.empty() || folder[0] != '/' || folder == "/" || !IsFolder(folder)) return;
    for (const std::string& already : hidden) {
      if (Under(folder, already)) return;
    }
    hidden.push_back(folder);
  };
  for (const char* folder : {"/home", "/root", "/run", "/var/tmp", "/mnt", "/media"}) hide(folder);
  for (const char* name : {"HOME", "XDG_CACHE_HOME", "XDG_RUNTIME_DIR", "XDG_CONFIG_HOME", "XDG_DATA_HOME"}) {
    const char* value = ::getenv(name);
    if (value != nullptr) hide(value);
  }
  return hidden;
}

void ShowProgramFolders(const std::vector<std::string>& programs, SandboxPlan* plan) {
  for (const std::string& program : programs) {
    const size_t slash = program.rfind('/');
    if (program.empty() || program[0] != '/' || slash == 0 || slash == std::string::npos) continue;
    const std::string folder = program.substr(0, slash);
    bool covered = Under(folder, "/tmp");
    for (const std::string& hidden : plan->hidden) covered = covered || Under(folder, hidden);
    for (const std::string& shown : plan->readOnly) covered = covered && folder != shown;
    if (covered) plan->readOnly.push_back(folder);
  }
}

std::vector<std::string> NamedEnvironment(const std::vector<std::string>& caller,
                                          const std::vector<std::string>& set) {
  static const char* const kNamed[] = {"PATH", "LANG", "LANGUAGE", "TZ", "TZDIR", "USER", "LOGNAME"};
  auto nameOf = [](const std::string& entry) { return entry.substr(0, entry.find('=')); };
  std::vector<std::string> environment;
  for (const std::string& entry : caller) {
    const std::string name = nameOf(entry);
    bool named = name.compare(0, 3, "LC_") == 0 || name.compare(0, 4, "WINE") == 0;
    for (const char* known : kNamed) named = named || name == known;
    for (const std::string& own : set) named = named && nameOf(own) != name;
    if (named && name.size() < entry.size()) environment.push_back(entry);
  }
  environment.insert(environment.end(), set.begin(), set.end());
  return environment;
}

std::string SandboxProblem() {
  if (FindInPath("bwrap").empty()) {
    return "no sandbox can be made: bubblewrap is not installed (install bubblewrap), or run with --no-sandbox";
  }
  const std::string most = Setting("/proc/sys/user/max_user_namespaces");
  if (most == "0") {
    return "no sandbox can be made: user namespaces are switched off (sysctl user.max_user_namespaces is 0); "
           "set it above 0, or run with --no-sandbox";
  }
  const std::string clone = Setting("/proc/sys/kernel/unprivileged_userns_clone");
  // The run's own policy, around an empty folder, runs /bin/true.
  const char* temp = ::getenv("TMPDIR");
  std::string folder = std::string(temp != nullptr && temp[0] == '/' ? temp : "/tmp") + "/kesmar-probe-XXXXXX";
  if (::mkdtemp(&folder[0]) == nullptr) folder.clear();
  SandboxPlan plan;
  plan.tmp = folder.empty() ? "/nonexistent" : folder;
  plan.hidden = HiddenFolders();
  ChildOptions probe;
  probe.argv = {"/bin/true"};
  probe.environment = {"PATH=/usr/bin:/bin"};
  probe.sandbox = &plan;
  int status = 0;
  std::string output, problem;
  const bool ran = RunToEnd(probe, TryClock::now() + std::chrono::seconds(20), &status, &output, &problem, false);
  if (!folder.empty()) ::rmdir(folder.c_str());
  if (ran && WIFEXITED(status) && WEXITSTATUS(status) == 0) return "";
  std::string said = output.substr(0, output.find('\n'));
  if (said.size() > 160) said = said.substr(0, 157) + "...";
  if (clone == "0" && ::geteuid() != 0) {
    return "no sandbox can be made: unprivileged user namespaces are switched off (sysctl "
           "kernel.unprivileged_userns_clone is 0); set it to 1, or run with --no-sandbox";
  }
  return "no sandbox can be made: bubblewrap failed" + (said.empty() ? std::string() : " (" + said + ")") +
         "; check sysctl user.max_user_namespaces, kernel.unprivileged_userns_clone and "
         "kernel.apparmor_restrict_unprivileged_userns, or run with --no-sandbox";
}

uint64_t PidNamespaceOf(const std::string& info) {
  const std::string key = "\"pid-namespace\"";
  size_t at = info.find(key);
  if (at == std::string::npos) return 0;
  at = info.find_first_of("0123456789", at + key.size());
  if (at == std::string::npos) return 0;
  return std::strtoull(info.c_str() + at, nullptr, 10);
}

std::vector<int> ProcessesIn(uint64_t pidNamespace) {
  std::vector<int> found;
  if (pidNamespace == 0) return found;
  const std::string wanted = "pid:[" + std::to_string(pidNamespace) + "]";
  DIR* proc = ::opendir("/proc");
  if (proc == nullptr) return found;
  while (const dirent* entry = ::readdir(proc)) {
    const char* name = entry->d_name;
    if (name[0] < '1' || name[0] > '9') continue;
    char link[64];
    const std::string path = std::string("/proc/") + name + "/ns/pid";
    const ssize_t length = ::readlink(path.c_str(), link, sizeof link - 1);
    if (length <= 0 || std::string(link, size_t(length)) != wanted) continue;
    // A zombie runs no more: it waits for its parent (the machine's init, once bubblewrap is gone) to reap it.
    std::ifstream stat(std::string("/proc/") + name + "/stat");
    std::string line;
    std::getline(stat, line);
    const size_t close = line.rfind(')');
    const char state = close != std::string::npos && close + 2 < line.size() ? line[close + 2] : '?';
    if (state != 'Z' && state != 'X') found.push_back(std::atoi(name));
  }
  ::closedir(proc);
  return found;
}

}  // namespace kesmar
