// Folders on the host for kesmar-pack try: a tree listed, copied and removed, small files read, outputs written.
#pragma once

#include <functional>
#include <string>

#include "kesmar_pack/try/wine/prefix_changes.h"

namespace kesmar {

// Every entry under `root` by lstat, links not followed, into `tree` by
// path relative to `root`. False, with `problem` set, when `root` cannot be
// listed; entries that vanish meanwhile are passed over.
bool SnapshotFiles(const std::string& root, FileTree* tree, std::string* problem);

// Copies the folder `from` to `to`, which must not exist: folders, files
// with their modes, times and user attributes (where Wine keeps DOS
// attributes), links as links. Files are cloned where the file system can.
bool CopyTree(const std::string& from, const std::string& to, std::string* problem);

// Removes `path` and everything under it, never following a link (a Wine
// prefix links to /); folders that may not be written are opened up first.
// The walk goes through open folders (openat with O_NOFOLLOW, unlinkat),
// never by a path looked up again, so that a process that swaps a folder
// for a link meanwhile cannot lead it outside; it does not cross into
// another file system.
bool RemoveTree(const std::string& path, std::string* problem);

// RemoveTree with `entering` called with each folder's path just before it
// is opened: the moment at which tests swap it for a link.
bool RemoveTreeWatched(const std::string& path, const std::function<void(const std::string&)>& entering,
                       std::string* problem);

// The whole of a plain file, not through a link; false when it cannot be
// read or is no plain file.
bool ReadWholeFile(const std::string& path, std::string* text);

// Whether two files hold the same bytes.
bool SameFileContent(const std::string& a, const std::string& b);

// Writes `bytes` to a new file beside `path` and renames it over `path`, so
// that a failure leaves what was there before.
bool WriteOutputFile(const std::string& path, const std::string& bytes, std::string* problem);

}  // namespace kesmar
