// Checking for Wine, its environment, stopping a prefix's wineserver and mapping Windows paths to the host.
#include "kesmar_pack/try/wine/wine_prefix.h"

#include <dirent.h>
#include <limits.h>
#include <stdlib.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <fstream>

extern char** environ;

namespace kesmar {
namespace {

constexpr char kWatchName[] = "kesmar-try-watch.exe";

bool Exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

std::string OwnFolder() {
  char buffer[PATH_MAX];
  const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (length <= 0) return "";
  const std::string path(buffer, size_t(length));
  return path.substr(0, path.rfind('/'));
}

bool StartsWith(const std::string& text, const std::string& start) { return text.compare(0, start.size(), start) == 0; }

}  // namespace

std::string WineSetupProblem() {
  if (FindInPath("wine").empty()) {
    return "wine is not installed: install wine and wine32:i386 (Debian: dpkg --add-architecture i386, then apt "
           "install wine wine32:i386)";
  }
  if (FindInPath("wineserver").empty()) return "wineserver is not installed: install wine";
  // Debian's wine starts 32-bit programs with this loader, from wine32:i386.
  if (Exists("/usr/lib/wine/wine64") && !Exists("/usr/lib/wine/wine")) {
    return "32-bit Wine is not installed, and the launcher is a 32-bit program: install wine32:i386 (Debian: "
           "dpkg --add-architecture i386, then apt install wine32:i386)";
  }
  if (!Exists("/lib/ld-linux.so.2")) {
    return "this machine has no 32-bit C library, which 32-bit Wine needs: install wine32:i386 (Debian: dpkg "
           "--add-architecture i386, then apt install wine32:i386)";
  }
  ChildOptions loader;
  loader.argv = {"/lib/ld-linux.so.2", "--version"};
  loader.environment = {"PATH=/usr/bin:/bin"};
  int status = 0;
  std::string output, problem;
  // An emulator registered for 32-bit programs may take a moment to start.
  if (!RunToEnd(loader, TryClock::now() + std::chrono::seconds(30), &status, &output, &problem) ||
      !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    // Debian 12's own qemu-user-binfmt is 7.2, which crashes the launcher as it
    // ends; the backports package registers 10 for good, at every boot.
    return "this kernel cannot run 32-bit programs and no emulator is registered for them: install "
           "qemu-user-binfmt 8 or later (Debian 12: enable bookworm-backports, then apt install -t "
           "bookworm-backports qemu-user-binfmt; Debian 12's own 7.2 crashes the launcher), or run "
           "scripts/ia32-setup from kesmar-pack's source as root";
  }
  return "";
}

std::string FindTryWatch(std::string* looked) {
  const std::string folder = OwnFolder();
  const std::string candidates[] = {folder + "/../lib/kesmar-pack/" + kWatchName, folder + "/" + kWatchName,
                                    folder + "/../win32/" + kWatchName};
  looked->clear();
  for (const std::string& candidate : candidates) {
    struct stat st;
    if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return candidate;
    *looked += (looked->empty() ? "" : ", ") + candidate;
  }
  return "";
}

std::vector<std::string> WineEnvironment(const WineSetting& setting) {
  static const char* const kDropped[] = {"WINEPREFIX=", "WINEDEBUG=", "WINEDLLOVERRIDES=", "DISPLAY=", "XAUTHORITY=",
                                         "WAYLAND_DISPLAY=", "HOME=", "XDG_CONFIG_HOME=", "XDG_DATA_HOME=",
                                         "XDG_CACHE_HOME=", "XDG_STATE_HOME=", "XDG_CONFIG_DIRS=", "XDG_DATA_DIRS="};
  std::vector<std::string> environment;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    const std::string text = *entry;
    bool dropped = false;
    for (const char* name : kDropped) dropped = dropped || StartsWith(text, name);
    if (!dropped) environment.push_back(text);
  }
  const char* debug = ::getenv("WINEDEBUG");
  const char* overrides = ::getenv("WINEDLLOVERRIDES");
  environment.push_back("WINEPREFIX=" + setting.prefix);
  environment.push_back("HOME=" + setting.home);
  environment.push_back(std::string("WINEDEBUG=") + (debug != nullptr ? debug : "-all"));
  environment.push_back(std::string("WINEDLLOVERRIDES=") + (overrides != nullptr ? overrides : "mscoree,mshtml=") +
                        ";winemenubuilder.exe=d");
  if (!setting.display.empty()) environment.push_back("DISPLAY=" + setting.display);
  if (!setting.authority.empty()) environment.push_back("XAUTHORITY=" + setting.authority);
  return environment;
}

std::string WineVersion(TryClock::time_point deadline) {
  ChildOptions options;
  options.argv = {"wine", "--version"};
  WineSetting setting;
  setting.prefix = "/nonexistent";
  setting.home = "/nonexistent";
  options.environment = WineEnvironment(setting);
  int status = 0;
  std::string output, problem;
  if (!RunToEnd(options, deadline, &status, &output, &problem)) return "";
  const size_t end = output.find('\n');
  return output.substr(0, end);
}

bool StopWine(const WineSetting& setting, TryClock::time_point deadline) {
  ChildOptions options;
  options.environment = WineEnvironment(setting);
  int status = 0;
  std::string problem;
  options.argv = {"wineserver", "-k"};
  RunToEnd(options, deadline, &status, nullptr, &problem, false);
  options.argv = {"wineserver", "-w"};
  return RunToEnd(options, deadline, &status, nullptr, &problem, false);
}

void RemoveServerFolder(const std::string& prefix) {
  struct stat st;
  if (::stat(prefix.c_str(), &st) != 0) return;
  char name[64];
  std::snprintf(name, sizeof name, "server-%llx-%llx", static_cast<unsigned long long>(st.st_dev),
                static_cast<unsigned long long>(st.st_ino));
  std::vector<std::string> parents = {"/tmp/.wine-" + std::to_string(::getuid())};
  std::string recorded;
  std::ifstream file(prefix + "/wineserver");
  if (std::getline(file, recorded) && recorded.rfind("wine-", 0) == 0 &&
      recorded.find_first_of("/.") == std::string::npos) {
    const char* temp = ::getenv("TMPDIR");
    if (temp != nullptr && temp[0] == '/') parents.push_back(std::string(temp) + "/" + recorded);
    parents.push_back("/tmp/" + recorded);
  }
  for (size_t i = 0; i < parents.size(); ++i) {
    const std::string folder = parents[i] + "/" + name;
    ::unlink((folder + "/lock").c_str());
    // A server still running keeps its socket there, and the folder with it.
    ::rmdir(folder.c_str());
    // Debian's folder is the prefix's own unless copied with it.
    if (i > 0) ::rmdir(parents[i].c_str());
  }
}

std::string UnixPathIn(const std::string& prefix, const std::string& windowsPath) {
  if (windowsPath.size() < 2 || windowsPath[1] != ':' || !std::isalpha(static_cast<unsigned char>(windowsPath[0]))) {
    return "";
  }
  const std::string drive = prefix + "/dosdevices/" +
                            char(std::tolower(static_cast<unsigned char>(windowsPath[0]))) + ":";
  char resolved[PATH_MAX];
  if (::realpath(drive.c_str(), resolved) == nullptr) return "";
  std::string path = resolved;
  size_t start = 2;
  while (start < windowsPath.size()) {
    size_t end = windowsPath.find_first_of("\\/", start);
    if (end == std::string::npos) end = windowsPath.size();
    std::string name = windowsPath.substr(start, end - start);
    start = end + 1;
    if (name.empty() || name == ".") continue;
    if (!Exists(path + "/" + name)) {
      if (DIR* folder = ::opendir(path.c_str())) {
        while (const dirent* entry = ::readdir(folder)) {
          if (::strcasecmp(entry->d_name, name.c_str()) == 0) {
            name = entry->d_name;
            break;
          }
        }
        ::closedir(folder);
      }
    }
    path += (path == "/" ? "" : "/") + name;
  }
  return path;
}

std::string WindowsPathOf(const std::string& unixPath) {
  std::string path = "Z:" + unixPath;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

}  // namespace kesmar
