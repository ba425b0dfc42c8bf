// A run's own folder in $TMPDIR, locked for the run's life, and the removal of those that runs which died left behind.
#pragma once

#include <string>

namespace kesmar {

// "kesmar-try-XXXXXX" in $TMPDIR (or /tmp), with "tmp" (the sandbox's /tmp)
// and "files" (what the run may read: the launcher and the watcher) in it.
// A lock on its file "lock" is held while this lives: a folder whose lock
// is free belongs to no run. Removed with all in it when this goes, unless kept.
class WorkFolder {
 public:
  WorkFolder() = default;
  ~WorkFolder();
  WorkFolder(const WorkFolder&) = delete;
  WorkFolder& operator=(const WorkFolder&) = delete;

  // Removes the folders of runs that died (RemoveStaleWorkFolders), then
  // makes this run's. False, with `problem`, when it cannot be made.
  bool Make(std::string* problem);
  // Leaves the folder where it is, for good: a later run does not remove it.
  void Keep();
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  int lock_ = -1;
  bool kept_ = false;
};

// The temporary folder of try's runs: $TMPDIR when absolute, else /tmp.
std::string TryTempRoot();

// Removes every "kesmar-try-XXXXXX" folder in `root` that is the caller's,
// was not kept, and whose lock no run holds. Returns how many went.
int RemoveStaleWorkFolders(const std::string& root);

}  // namespace kesmar
