// Listing, copying and removing folder trees with lstat, clones and unlink; reading files and writing outputs.
#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "builder/build_payload.h"
#include "kesmar_pack/try/file_tree.h"
#include "kesmar_pack/commands/pack_input.h"

namespace kesmar {
namespace {

std::string Failure(const std::string& what, const std::string& path) {
  return what + " " + path + " (" + std::strerror(errno) + ")";
}

// The names in a folder, without "." and "..".
bool ListFolder(const std::string& path, std::vector<std::string>* names) {
  DIR* folder = ::opendir(path.c_str());
  if (folder == nullptr) return false;
  while (const dirent* entry = ::readdir(folder)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names->push_back(name);
  }
  ::closedir(folder);
  return true;
}

void Walk(const std::string& root, const std::string& relative, FileTree* tree) {
  std::vector<std::string> names;
  if (!ListFolder(relative.empty() ? root : root + "/" + relative, &names)) return;
  for (const std::string& name : names) {
    const std::string path = relative.empty() ? name : relative + "/" + name;
    struct stat st;
    if (::lstat((root + "/" + path).c_str(), &st) != 0) continue;
    FileState state;
    state.type = S_ISREG(st.st_mode) ? 'f' : S_ISDIR(st.st_mode) ? 'd' : S_ISLNK(st.st_mode) ? 'l' : 'o';
    state.size = uint64_t(st.st_size);
    state.modified = int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    if (state.type == 'l') {
      std::vector<char> target(size_t(st.st_size) + 2);
      const ssize_t length = ::readlink((root + "/" + path).c_str(), target.data(), target.size() - 1);
      if (length > 0) state.target.assign(target.data(), size_t(length));
    }
    (*tree)[path] = state;
    if (state.type == 'd') Walk(root, path, tree);
  }
}

void CopyAttributes(int from, int to) {
  char names[4096];
  const ssize_t length = ::flistxattr(from, names, sizeof names);
  for (ssize_t at = 0; length > 0 && at < length; at += ssize_t(std::strlen(names + at)) + 1) {
    if (std::strncmp(names + at, "user.", 5) != 0) continue;
    char value[4096];
    const ssize_t size = ::fgetxattr(from, names + at, value, sizeof value);
    if (size >= 0) ::fsetxattr(to, names + at, value, size_t(size), 0);
  }
}

bool CopyFile(const std::string& from, const std::string& to, const struct stat& st) {
  const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (in < 0) return false;
  const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, st.st_mode & 07777);
  if (out < 0) {
    ::close(in);
    return false;
  }
  bool copied = ::ioctl(out, FICLONE, in) == 0;
  if (!copied) {
    off_t left = st.st_size;
    copied = true;
    while (left > 0) {
      const ssize_t done = ::copy_file_range(in, nullptr, out, nullptr, size_t(left), 0);
      if (done < 0 && errno == EINTR) continue;
      if (done <= 0) {
        copied = false;
        break;
      }
      left -= done;
    }
    if (!copied && ::lseek(in, 0, SEEK_SET) == 0 && ::ftruncate(out, 0) == 0 && ::lseek(out, 0, SEEK_SET) == 0) {
      // copy_file_range is not there on every file system: plain reads and writes.
      char buffer[1 << 16];
      ssize_t got;
      copied = true;
      while (copied && (got = ::read(in, buffer, sizeof buffer)) != 0) {
        if (got < 0) {
          copied = errno == EINTR;
          continue;
        }
        copied = ::write(out, buffer, size_t(got)) == got;
      }
    }
  }
  CopyAttributes(in, out);
  ::fchmod(out, st.st_mode & 07777);
  const timespec times[2] = {st.st_atim, st.st_mtim};
  ::futimens(out, times);
  ::close(in);
  return ::close(out) == 0 && copied;
}

bool CopyEntry(const std::string& from, const std::string& to, std::string* problem) {
  struct stat st;
  if (::lstat(from.c_str(), &st) != 0) {
    *problem = Failure("cannot read", from);
    return false;
  }
  if (S_ISLNK(st.st_mode)) {
    std::vector<char> target(size_t(st.st_size) + 2);
    const ssize_t length = ::readlink(from.c_str(), target.data(), target.size() - 1);
    if (length < 0 || ::symlink(std::string(target.data(), size_t(length)).c_str(), to.c_str()) != 0) {
      *problem = Failure("cannot copy the link", from);
      return false;
    }
    // The link's own times, as for every other entry.
    const timespec times[2] = {st.st_atim, st.st_mtim};
    ::utimensat(AT_FDCWD, to.c_str(), times, AT_SYMLINK_NOFOLLOW);
    return true;
  }
  if (S_ISREG(st.st_mode)) {
    if (!CopyFile(from, to, st)) {
      *problem = Failure("cannot copy", from);
      return false;
    }
    return true;
  }
  if (!S_ISDIR(st.st_mode)) return true;  // no pipes or sockets belong in a prefix
  std::vector<std::string> names;
  if (::mkdir(to.c_str(), 0700) != 0 || !ListFolder(from, &names)) {
    *problem = Failure("cannot copy the folder", from);
    return false;
  }
  for (const std::string& name : names) {
    if (!CopyEntry(from + "/" + name, to + "/" + name, problem)) return false;
  }
  ::chmod(to.c_str(), st.st_mode & 07777);
  const timespec times[2] = {st.st_atim, st.st_mtim};
  ::utimensat(AT_FDCWD, to.c_str(), times, AT_SYMLINK_NOFOLLOW);
  return true;
}

}  // namespace

bool SnapshotFiles(const std::string& root, FileTree* tree, std::string* problem) {
  struct stat st;
  if (::stat(root.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    *problem = Failure("cannot list", root);
    return false;
  }
  tree->clear();
  Walk(root, "", tree);
  return true;
}

bool CopyTree(const std::string& from, const std::string& to, std::string* problem) {
  return CopyEntry(from, to, problem);
}

bool ReadWholeFile(const std::string& path, std::string* text) {
  // A plain file only: a run may put a link or a pipe where a hive was, for
  // try, outside, to read a host file or wait for ever.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return false;
  }
  text->clear();
  char buffer[1 << 16];
  ssize_t got;
  while ((got = ::read(fd, buffer, sizeof buffer)) != 0) {
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) break;
    text->append(buffer, size_t(got));
  }
  ::close(fd);
  return got == 0;
}

bool SameFileContent(const std::string& a, const std::string& b) {
  std::string first, second;
  return ReadWholeFile(a, &first) && ReadWholeFile(b, &second) && first == second;
}

// As every output of kesmar-pack: a new file of its own beside `path`,
// renamed over it once whole.
bool WriteOutputFile(const std::string& path, const std::string& bytes, std::string* problem) {
  const std::unique_ptr<FileSystem> files = CreatePackInputFileSystem(path, {});
  int error = 0;
  const char* reason = WriteFileReplacing(*files, path, reinterpret_cast<const uint8_t*>(bytes.data()),
                                          uint32_t(bytes.size()), &error);
  if (reason == nullptr) return true;
  errno = error != 0 ? error : EIO;
  *problem = Failure(reason, path);
  return false;
}

}  // namespace kesmar
