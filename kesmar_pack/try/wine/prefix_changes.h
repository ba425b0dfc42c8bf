// What a run changed in a Wine prefix: drive_c before and after, Wine's own churn left out, the temporary folder and the fonts picked out.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "kesmar_pack/try/wine/wine_registry.h"

namespace kesmar {

// One entry of drive_c as lstat saw it.
struct FileState {
  char type = 'f';        // f file, d folder, l symbolic link, o anything else
  uint64_t size = 0;
  int64_t modified = 0;   // nanoseconds
  std::string target;     // of a link
};

// drive_c's entries by path relative to it, names separated by "/".
using FileTree = std::map<std::string, FileState>;

// Paths relative to drive_c; a folder's ends in "/".
struct FileChanges {
  std::vector<std::string> created;
  std::vector<std::string> changed;
  std::vector<std::string> removed;
  bool empty() const { return created.empty() && changed.empty() && removed.empty(); }
};

// Asked about a file whose size stayed and whose time did not: true when
// its content is what it was, so that a file written again unchanged does
// not count.
using SameContent = std::function<bool(const std::string& path)>;

// What differs, in path order. A folder counts when it comes or goes, not
// when its entries change.
FileChanges CompareFiles(const FileTree& before, const FileTree& after, const SameContent& sameContent);

// What Wine changes in a prefix by itself whenever it starts (the display
// adapters it finds, its network cards): measured once on the template
// prefix, by a start that runs no program, and left out of every report.
struct WineChurn {
  std::set<std::string> files;
  std::set<std::string> keys;
  std::set<std::pair<std::string, std::string>> values;

  static WineChurn FromChanges(const FileChanges& files, const RegistryChanges& registry);
  std::string Serialize() const;
  // False when `text` is not what Serialize writes.
  static bool Parse(const std::string& text, WineChurn* churn);
};

// Drops from the changes what `churn` names, and whatever lies under the
// keys that Wine rewrites from the host's hardware at every start.
void LeaveOutChurn(const WineChurn& churn, FileChanges* files, RegistryChanges* registry);

// Moves out of `files` what was created or changed under `folder` (a path
// relative to drive_c) and returns those paths, relative to `folder`. What
// was removed there is dropped.
std::vector<std::string> TakeFolder(const std::string& folder, FileChanges* files);

// The fonts a run installed: files that came into the Fonts folder or a
// user's font folder, entries added to win.ini's [fonts], and values added
// under a ...\Windows NT\CurrentVersion\Fonts key.
struct FontChanges {
  std::vector<std::string> files;            // Windows paths
  std::vector<std::string> profileEntries;   // "name=file"
  std::vector<std::string> registryEntries;  // "key: name = data"
  bool empty() const { return files.empty() && profileEntries.empty() && registryEntries.empty(); }
};

FontChanges FindFontChanges(const FileChanges& files, const RegistryChanges& registry, const std::string& winIniBefore,
                            const std::string& winIniAfter);

// A path relative to drive_c as Windows names it: C:\windows\win.ini.
std::string DriveCPath(const std::string& relative);

}  // namespace kesmar
