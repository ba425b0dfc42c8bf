// The run's folder made and locked with flock, and stale ones found by their free locks and removed through open folders.
#include "kesmar_pack/try/work_folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "kesmar_pack/try/file_tree.h"

namespace kesmar {
namespace {

constexpr char kPrefix[] = "kesmar-try-";
constexpr char kKept[] = "kept";

bool IsRunFolderName(const std::string& name) {
  return name.size() == sizeof kPrefix - 1 + 6 && name.compare(0, sizeof kPrefix - 1, kPrefix) == 0;
}

}  // namespace

std::string TryTempRoot() {
  const char* temp = ::getenv("TMPDIR");
  return temp != nullptr && temp[0] == '/' ? temp : "/tmp";
}

int RemoveStaleWorkFolders(const std::string& root) {
  const int folder = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder < 0) return 0;
  const int listing = ::dup(folder);
  DIR* entries = listing >= 0 ? ::fdopendir(listing) : nullptr;
  if (entries == nullptr) {
    if (listing >= 0) ::close(listing);
    ::close(folder);
    return 0;
  }
  int removed = 0;
  while (const dirent* entry = ::readdir(entries)) {
    const std::string name = entry->d_name;
    struct stat st;
    if (!IsRunFolderName(name) || ::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) {
      continue;
    }
    const int run = ::openat(folder, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (run < 0) continue;
    // A folder without a lock is one being made, or kept: not ours to take.
    const int lock = ::openat(run, "lock", O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    struct stat kept;
    const bool stale = lock >= 0 && ::fstatat(run, kKept, &kept, AT_SYMLINK_NOFOLLOW) != 0 &&
                       ::flock(lock, LOCK_EX | LOCK_NB) == 0;
    ::close(run);
    std::string problem;
    // Removed while its lock is held here, so that no run can take it meanwhile.
    if (stale && RemoveTree(root + "/" + name, &problem)) ++removed;
    if (lock >= 0) ::close(lock);
  }
  ::closedir(entries);
  ::close(folder);
  return removed;
}

bool WorkFolder::Make(std::string* problem) {
  const std::string root = TryTempRoot();
  RemoveStaleWorkFolders(root);
  std::string pattern = root + "/" + kPrefix + "XXXXXX";
  if (::mkdtemp(&pattern[0]) == nullptr) {
    *problem = "cannot make a folder in " + root + " (" + std::strerror(errno) + ")";
    return false;
  }
  path_ = pattern;
  lock_ = ::open((path_ + "/lock").c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (lock_ < 0 || ::flock(lock_, LOCK_EX | LOCK_NB) != 0 || ::mkdir((path_ + "/tmp").c_str(), 0700) != 0 ||
      ::mkdir((path_ + "/files").c_str(), 0700) != 0) {
    *problem = "cannot make the run's folder " + path_ + " (" + std::strerror(errno) + ")";
    return false;
  }
  return true;
}

void WorkFolder::Keep() {
  if (path_.empty() || kept_) return;
  const int marker = ::open((path_ + "/" + kKept).c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (marker >= 0) ::close(marker);
  kept_ = true;
}

WorkFolder::~WorkFolder() {
  std::string ignored;
  if (!path_.empty() && !kept_) RemoveTree(path_, &ignored);
  if (lock_ >= 0) ::close(lock_);
}

}  // namespace kesmar
