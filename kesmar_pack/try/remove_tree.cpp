// Removing a folder tree through open folders (openat, fstatat, unlinkat), so that no link put in its way meanwhile can lead the removal outside it.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "kesmar_pack/try/file_tree.h"

namespace kesmar {
namespace {

// Deeper than this, a tree is no prefix Wine made: it is left, and said.
constexpr int kDeepest = 256;

using Entering = std::function<void(const std::string&)>;

struct Walk {
  const Entering& entering;
  std::string* problem;
  bool ok = true;

  void Fail(const std::string& what, const std::string& path, int error) {
    if (ok) *problem = what + " " + path + " (" + std::strerror(error) + ")";
    ok = false;
  }

  // Opens the folder `name` of `parent` without following a link; when it
  // may not be read, lets the owner in by its descriptor, not its name.
  int OpenFolder(int parent, const char* name) {
    int fd = ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0 || errno != EACCES) return fd;
    const int path = ::openat(parent, name, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (path < 0) return -1;
    // chmod through the descriptor's own /proc link reaches the folder that was opened.
    const std::string self = "/proc/self/fd/" + std::to_string(path);
    struct stat st;
    if (::fstat(path, &st) == 0) ::chmod(self.c_str(), (st.st_mode & 07777) | 0700);
    fd = ::openat(path, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const int error = errno;
    ::close(path);
    errno = error;
    return fd;
  }

  // Removes everything in the open folder `folder`, which is `shown`.
  void Empty(int folder, const std::string& shown, dev_t device, int depth) {
    struct stat own;
    if (::fstat(folder, &own) == 0 && (own.st_mode & 0700) != 0700) ::fchmod(folder, (own.st_mode & 07777) | 0700);
    const int listing = ::dup(folder);
    DIR* entries = listing >= 0 ? ::fdopendir(listing) : nullptr;
    if (entries == nullptr) {
      if (listing >= 0) ::close(listing);
      return Fail("cannot list", shown, errno);
    }
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(entries)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(entries);
    for (const std::string& name : names) Remove(folder, name, shown + "/" + name, device, depth);
  }

  // Removes the entry `name` of the open folder `parent`.
  void Remove(int parent, const std::string& name, const std::string& shown, dev_t device, int depth) {
    struct stat st;
    if (::fstatat(parent, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno != ENOENT) Fail("cannot remove", shown, errno);
      return;
    }
    if (S_ISDIR(st.st_mode)) {
      if (st.st_dev != device) return Fail("will not remove another file system mounted at", shown, EXDEV);
      if (depth >= kDeepest) return Fail("will not remove folders nested this deep:", shown, ELOOP);
      if (entering) entering(shown);
      const int folder = OpenFolder(parent, name.c_str());
      if (folder < 0) {
        // Swapped meanwhile for something that is no folder: that goes as it is.
        if ((errno == ENOTDIR || errno == ELOOP) && ::unlinkat(parent, name.c_str(), 0) == 0) return;
        if (errno != ENOENT) Fail("cannot open", shown, errno);
        return;
      }
      struct stat opened;
      if (::fstat(folder, &opened) == 0 && opened.st_dev != device) {
        ::close(folder);
        return Fail("will not remove another file system mounted at", shown, EXDEV);
      }
      Empty(folder, shown, device, depth + 1);
      ::close(folder);
      if (::unlinkat(parent, name.c_str(), AT_REMOVEDIR) != 0 && errno != ENOENT) Fail("cannot remove", shown, errno);
      return;
    }
    if (::unlinkat(parent, name.c_str(), 0) != 0 && errno != ENOENT) Fail("cannot remove", shown, errno);
  }
};

}  // namespace

bool RemoveTreeWatched(const std::string& path, const Entering& entering, std::string* problem) {
  std::string trimmed = path;
  while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
  const size_t slash = trimmed.rfind('/');
  const std::string parentPath = slash == std::string::npos ? "." : slash == 0 ? "/" : trimmed.substr(0, slash);
  const std::string name = slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
  if (name.empty() || name == "." || name == ".." || trimmed == "/") {
    *problem = "will not remove " + path;
    return false;
  }
  // The folder that holds it is the caller's to name; from here on nothing is looked up by path.
  const int parent = ::open(parentPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (parent < 0) {
    if (errno == ENOENT) return true;
    *problem = "cannot open " + parentPath + " (" + std::strerror(errno) + ")";
    return false;
  }
  struct stat st;
  Walk walk{entering, problem};
  if (::fstatat(parent, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
    walk.Remove(parent, name, trimmed, st.st_dev, 0);
  } else if (errno != ENOENT) {
    walk.Fail("cannot remove", trimmed, errno);
  }
  ::close(parent);
  return walk.ok;
}

bool RemoveTree(const std::string& path, std::string* problem) { return RemoveTreeWatched(path, nullptr, problem); }

}  // namespace kesmar
