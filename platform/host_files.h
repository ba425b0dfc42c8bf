// What a host tool (kesmar-pack) asks of the file system beyond FileSystem, on Linux and on Windows.
#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/file_system.h"

namespace kesmar {

// Paths here are UTF-8. The characters that separate folders in a path the
// user gives: "/" on Linux; "\\" and "/" on Windows.
extern const char kHostPathSeparators[];

// The separator to put between `folder`, as the user gave it, and a name
// when the path is shown: "/" on Linux; on Windows "\\", unless the user
// wrote the folder with "/" alone.
char ShownSeparator(const std::string& folder);

// The host's files through the FileSystem interface, with UTF-8 paths in
// which "\\" and "/" both separate folders, and folders listed in NTFS
// order. Failing calls leave the reason in errno.
std::unique_ptr<FileSystem> CreateHostFileSystem();

// What is at a path, links followed unless `followLinks` is false (a link
// itself is then kOther).
struct PathInfo {
  enum Kind { kMissing, kFile, kFolder, kOther, kUnreachable } kind = kMissing;
  uint64_t size = 0;  // of a file
  int error = 0;      // errno for kMissing and kUnreachable
};
PathInfo InspectPath(const std::string& path, bool followLinks = true);

// True when both paths name one existing file or folder.
bool SameFile(const std::string& a, const std::string& b);

// 0 when this process may create files in `folder`; otherwise errno's value
// for why not.
int FolderWriteError(const std::string& folder);

// The folder that holds the running program; empty when it cannot be told.
std::string ExecutableFolder();

// An entry of a folder that a listing leaves out because it cannot be looked
// at: a link to nothing, a link in a loop.
struct UnlistedEntry {
  std::string name;
  int error;          // why it could not be looked at
  bool danglingLink;  // a link whose target does not exist
};
// The entries of `folder` whose names are not in `listed` and that cannot
// be looked at. Windows lists every entry, so there are none there.
std::vector<UnlistedEntry> UnlistedEntries(const std::string& folder, const std::set<std::string>& listed);

}  // namespace kesmar
