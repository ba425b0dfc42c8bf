// The host tool's file queries on Linux: stat, access, /proc/self/exe and a second look at a folder's entries.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "platform/host_files.h"

namespace kesmar {

const char kHostPathSeparators[] = "/";
char ShownSeparator(const std::string&) { return '/'; }

std::unique_ptr<FileSystem> CreateHostFileSystem() { return CreateNativeFileSystem(); }

PathInfo InspectPath(const std::string& path, bool followLinks) {
  PathInfo info;
  struct stat st;
  if ((followLinks ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st)) != 0) {
    info.error = errno;
    info.kind = errno == ENOENT ? PathInfo::kMissing : PathInfo::kUnreachable;
    return info;
  }
  info.kind = S_ISDIR(st.st_mode) ? PathInfo::kFolder : S_ISREG(st.st_mode) ? PathInfo::kFile : PathInfo::kOther;
  if (info.kind == PathInfo::kFile) info.size = uint64_t(st.st_size);
  return info;
}

bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

int FolderWriteError(const std::string& folder) {
  return ::access(folder.c_str(), W_OK | X_OK) == 0 ? 0 : errno;
}

std::string ExecutableFolder() {
  std::vector<char> buffer(4096);
  const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
  if (length <= 0) return "";
  const std::string path(buffer.data(), size_t(length));
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? "" : path.substr(0, slash);
}

// The native listing leaves out what stat cannot look at.
std::vector<UnlistedEntry> UnlistedEntries(const std::string& folder, const std::set<std::string>& listed) {
  std::vector<UnlistedEntry> unlisted;
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return unlisted;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (listed.count(name) != 0) continue;
    const std::string path = folder + "/" + name;
    struct stat st;
    errno = 0;
    if (::stat(path.c_str(), &st) == 0) continue;  // appeared after the listing
    const int error = errno;
    const bool link = ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
    unlisted.push_back({name, error, link && error == ENOENT});
  }
  ::closedir(dir);
  return unlisted;
}

}  // namespace kesmar
