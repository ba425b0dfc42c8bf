// Making, finding and locking the template prefix in $XDG_CACHE_HOME/kesmar-pack (or ~/.cache/kesmar-pack).
#include "kesmar_pack/try/wine/prefix_template.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "kesmar_pack/try/file_tree.h"
#include "kesmar_pack/try/wine/wine_prefix.h"
#include "kesmar_pack/try/wine/wine_registry.h"

namespace kesmar {
namespace {

// Raised whenever the making changes, so that an older template is made anew.
constexpr char kTemplateVersion[] = "kesmar-pack wine template 2";

std::string CacheFolder() {
  const char* cache = ::getenv("XDG_CACHE_HOME");
  if (cache != nullptr && cache[0] == '/') return std::string(cache) + "/kesmar-pack";
  const char* home = ::getenv("HOME");
  if (home != nullptr && home[0] == '/') return std::string(home) + "/.cache/kesmar-pack";
  return "";
}

bool MakeFolders(const std::string& path) {
  for (size_t slash = path.find('/', 1); ; slash = path.find('/', slash + 1)) {
    const std::string part = path.substr(0, slash);
    if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
    if (slash == std::string::npos) return true;
  }
}

// What a template depends on: a template made for another Wine, another
// WINEARCH or another user's name in the prefix is not this one's.
std::string TemplateKey(const std::string& wineVersion) {
  std::string key = std::string(kTemplateVersion) + "\nwine: " + wineVersion;
  const char* arch = ::getenv("WINEARCH");
  key += std::string("\nWINEARCH: ") + (arch != nullptr ? arch : "");
  const passwd* user = ::getpwuid(::getuid());
  key += std::string("\nuser: ") + (user != nullptr ? user->pw_name : std::to_string(::getuid()));
  // Wine brings a prefix up to date when its wine.inf is newer than the
  // prefix: a rebuilt Wine of the same version counts as another.
  std::string wine = FindInPath("wine");
  char resolved[PATH_MAX];
  if (::realpath(wine.c_str(), resolved) != nullptr) wine = resolved;
  struct stat st;
  const std::string inf = wine.substr(0, wine.rfind('/')) + "/../share/wine/wine.inf";
  key += "\nwine.inf: " + (::stat(inf.c_str(), &st) == 0 ? std::to_string(st.st_mtime) : std::string("none")) + "\n";
  return key;
}

std::string Hash(const std::string& text) {
  uint64_t hash = 14695981039346656037ull;
  for (unsigned char c : text) hash = (hash ^ c) * 1099511628211ull;
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
  return hex;
}

bool Lock(int fd, int how, TryClock::time_point deadline, std::string* problem) {
  while (::flock(fd, how | LOCK_NB) != 0) {
    if (errno != EWOULDBLOCK && errno != EINTR) {
      *problem = std::string("cannot lock the template prefix (") + std::strerror(errno) + ")";
      return false;
    }
    if (StopRequested() || TryClock::now() >= deadline) {
      *problem = "another kesmar-pack was still making the template prefix";
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return true;
}

bool RunWine(const WineSetting& setting, const std::vector<std::string>& arguments, const std::string& what,
             TryClock::time_point deadline, std::string* problem) {
  ChildOptions options;
  options.argv = {"wine"};
  options.argv.insert(options.argv.end(), arguments.begin(), arguments.end());
  options.environment = WineEnvironment(setting);
  int status = 0;
  std::string output;
  if (!RunToEnd(options, deadline, &status, &output, problem)) {
    *problem = what + ": " + *problem;
    return false;
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    const size_t end = output.find('\n');
    *problem = what + " failed" + (output.empty() ? std::string() : ": " + output.substr(0, end));
    return false;
  }
  if (!StopWine(setting, deadline)) {
    *problem = what + ": Wine did not stop in time";
    return false;
  }
  return true;
}

// Wine links the profile's Desktop, Documents and the like to the home
// folder; a setup program run in a copy would write through them.
void UnlinkProfileFolders(const std::string& folder) {
  FileTree tree;
  std::string problem;
  if (!SnapshotFiles(folder, &tree, &problem)) return;
  for (const auto& entry : tree) {
    const std::string path = folder + "/" + entry.first;
    if (entry.second.type == 'l' && ::unlink(path.c_str()) == 0) ::mkdir(path.c_str(), 0755);
  }
}

bool Snapshot(const std::string& prefix, FileTree* files, RegistryTree* registry, std::string* problem) {
  if (!SnapshotFiles(prefix + "/drive_c", files, problem)) return false;
  const std::pair<const char*, const char*> hives[] = {
      {"system.reg", kMachineRoot}, {"user.reg", kUserRoot}, {"userdef.reg", kDefaultUserRoot}};
  for (const auto& hive : hives) {
    std::string text;
    if (ReadWholeFile(prefix + "/" + hive.first, &text)) ParseWineRegistry(text, hive.second, registry);
  }
  return true;
}

bool Build(const std::string& folder, const TemplateRequest& request, TryClock::time_point deadline,
           WineChurn* churn, std::string* problem) {
  WineSetting setting;
  setting.prefix = folder + "/prefix";
  setting.home = folder + "/home";
  if (::mkdir(setting.home.c_str(), 0700) != 0) {
    *problem = "cannot make " + setting.home + " (" + std::strerror(errno) + ")";
    return false;
  }
  // Whatever happens, no Wine process of the template is left running.
  struct Ender {
    const WineSetting& setting;
    ~Ender() {
      if (StopWine(setting, TryClock::now() + std::chrono::seconds(30))) RemoveServerFolder(setting.prefix);
    }
  } ender{setting};
  if (!RunWine(setting, {"wineboot", "-i"}, "making a Wine prefix", deadline, problem)) return false;
  UnlinkProfileFolders(setting.prefix + "/drive_c/users");
  std::string user;
  const std::string userReg = setting.prefix + "/user.reg";
  // The null graphics driver; and no crash dialog: Wine's debugger, started
  // for a program that crashes, would wait for a click on it. Without it,
  // the debugger writes its backtrace and the program ends at once, with
  // its exception status as its exit code.
  if (!ReadWholeFile(userReg, &user)) {
    *problem = "cannot read " + userReg;
    return false;
  }
  user = SetWineRegistryValue(user, "Software\\Wine\\Drivers", "Graphics", "\"null\"");
  user = SetWineRegistryValue(user, "Software\\Wine\\WineDbg", "ShowCrashDialog", "dword:00000000");
  if (!WriteOutputFile(userReg, user, problem)) {
    *problem = "cannot set the prefix's graphics driver and crash dialog: " + *problem;
    return false;
  }
  const std::vector<std::string> settle = {request.watchProgram, "--settle"};
  FileTree filesBefore, filesAfter;
  RegistryTree registryBefore, registryAfter;
  if (!RunWine(setting, settle, "settling the Wine prefix", deadline, problem) ||
      !Snapshot(setting.prefix, &filesBefore, &registryBefore, problem) ||
      !RunWine(setting, settle, "settling the Wine prefix", deadline, problem) ||
      !Snapshot(setting.prefix, &filesAfter, &registryAfter, problem)) {
    return false;
  }
  *churn = WineChurn::FromChanges(CompareFiles(filesBefore, filesAfter, [](const std::string&) { return false; }),
                                  CompareRegistry(registryBefore, registryAfter));
  RemoveTree(setting.home, problem);
  return WriteOutputFile(folder + "/churn", churn->Serialize(), problem);
}

bool Valid(const std::string& folder, const std::string& key, WineChurn* churn) {
  std::string stored, text;
  struct stat st;
  return ReadWholeFile(folder + "/key", &stored) && stored == key && ReadWholeFile(folder + "/churn", &text) &&
         WineChurn::Parse(text, churn) && ::stat((folder + "/prefix/system.reg").c_str(), &st) == 0;
}

// Templates of other Wines, and the remains of makings that were stopped.
void RemoveOthers(const std::string& cache, const std::string& keep) {
  std::vector<std::string> names;
  if (DIR* folder = ::opendir(cache.c_str())) {
    while (const dirent* entry = ::readdir(folder)) names.push_back(entry->d_name);
    ::closedir(folder);
  }
  std::string problem;
  for (const std::string& name : names) {
    if ((name.rfind("wine-", 0) == 0 || name.rfind("new-", 0) == 0) && cache + "/" + name != keep) {
      RemoveTree(cache + "/" + name, &problem);
    }
  }
}

}  // namespace

bool PrefixTemplate::Ready(const TemplateRequest& request, TryClock::time_point deadline, std::string* problem) {
  Release();
  made_ = false;
  const std::string cache = CacheFolder();
  if (!cache.empty() && MakeFolders(cache)) {
    lock_ = ::open((cache + "/lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  }
  if (lock_ < 0) {
    // No cache folder: a template of this run's own, made and dropped with it.
    const std::string folder = request.workFolder + "/template";
    if (::mkdir(folder.c_str(), 0700) != 0 || !Build(folder, request, deadline, &churn_, problem)) return false;
    prefix_ = folder + "/prefix";
    made_ = true;
    return true;
  }
  const std::string key = TemplateKey(request.wineVersion);
  const std::string folder = cache + "/wine-" + Hash(key);
  if (!Lock(lock_, LOCK_SH, deadline, problem)) return false;
  if (!Valid(folder, key, &churn_)) {
    // Made by one kesmar-pack at a time; the others wait, then use it.
    ::flock(lock_, LOCK_UN);
    if (!Lock(lock_, LOCK_EX, deadline, problem)) return false;
    if (!Valid(folder, key, &churn_)) {
      RemoveOthers(cache, "");
      char pattern[PATH_MAX];
      std::snprintf(pattern, sizeof pattern, "%s/new-XXXXXX", cache.c_str());
      if (::mkdtemp(pattern) == nullptr) {
        *problem = "cannot make a folder in " + cache + " (" + std::strerror(errno) + ")";
        return false;
      }
      const std::string made = pattern;
      std::string ignored;
      if (!Build(made, request, deadline, &churn_, problem) || !WriteOutputFile(made + "/key", key, problem) ||
          ::rename(made.c_str(), folder.c_str()) != 0) {
        if (problem->empty()) *problem = "cannot keep the template prefix in " + folder;
        RemoveTree(made, &ignored);
        return false;
      }
      made_ = true;
    }
    if (!Lock(lock_, LOCK_SH, deadline, problem)) return false;
  }
  prefix_ = folder + "/prefix";
  return true;
}

void PrefixTemplate::Release() {
  if (lock_ >= 0) ::close(lock_);
  lock_ = -1;
}

}  // namespace kesmar
