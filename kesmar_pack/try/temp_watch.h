// Watching the launcher's temporary folder with inotify while it runs: the folder the launcher makes there and the files written into it.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "kesmar_pack/try/report/try_facts.h"

namespace kesmar {

// The launcher makes its folder as "kesmars" and a number; whatever it
// writes there it removes before it ends, so the files can only be seen
// while it runs.
class TempFolderWatch {
 public:
  TempFolderWatch() = default;
  ~TempFolderWatch();
  TempFolderWatch(const TempFolderWatch&) = delete;
  TempFolderWatch& operator=(const TempFolderWatch&) = delete;

  // Watches `folder` (a host path). False, with `problem`, when it cannot.
  bool Start(const std::string& folder, std::string* problem);
  // The descriptor to poll for events.
  int fd() const { return fd_; }
  // Takes in the events that are there.
  void Read();
  // Reads the sizes of the files still open here, and closes them.
  void Finish();

  // The name of the launcher's folder in the temporary folder; empty while none was made.
  const std::string& extractionFolder() const { return folderName_; }
  // The files that appeared in it, in the order they did.
  const std::vector<ExtractedFile>& files() const { return files_; }

 private:
  void Watch(const std::string& name);
  void Note(const std::string& name, bool created, bool written);

  int fd_ = -1;
  int tempWatch_ = -1;
  int folderWatch_ = -1;
  std::string temp_;
  std::string folderName_;
  std::vector<ExtractedFile> files_;
  // A file is opened as soon as it appears, so that its size can still be
  // read when the launcher has removed it (fonts go at once); closed when
  // it has been written.
  std::map<std::string, int> open_;
};

// Whether `name` is one the launcher gives its folder: "kesmars" and digits.
bool IsExtractionFolderName(const std::string& name);

}  // namespace kesmar
