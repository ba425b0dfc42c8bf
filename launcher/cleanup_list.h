// CleanupList: what a run put on disk under the temporary folder, and the attempt to remove it again.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "platform/file_system.h"

namespace kesmar {

// The full paths of the files the extraction created, in order of creation,
// and the extraction folder. Only the main thread uses it.
class CleanupList {
 public:
  explicit CleanupList(FileSystem& fileSystem);
  // Makes exactly one removal attempt and forgets whatever it left behind.
  ~CleanupList();
  CleanupList(const CleanupList&) = delete;
  CleanupList& operator=(const CleanupList&) = delete;

  // Appends a copy of `path`; duplicates are kept.
  void AddFile(const std::string& path);
  // Makes `path` the folder to remove after the files.
  void SetFolder(const std::string& path);

  size_t FileCount() const { return files_.size(); }
  // The entry at `index`, in order of addition; `index` < FileCount().
  const std::string& FileAt(size_t index) const { return files_[index]; }
  // The folder still to be removed; empty when there is none.
  const std::string& Folder() const { return folder_; }

  // One attempt: deletes the listed files newest first, dropping each one that
  // is deleted or already gone, then removes the folder when it is a folder.
  // True when no file entry and no folder are left.
  bool RemoveExtractedFiles();

 private:
  FileSystem& fileSystem_;
  std::vector<std::string> files_;
  std::string folder_;
};

}  // namespace kesmar
