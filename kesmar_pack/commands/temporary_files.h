// kesmar-pack's temporary files beside its output, removed again when the run is interrupted.
#pragma once

#include <string>

#include "platform/file_system.h"
#include "platform/interrupts.h"

namespace kesmar {

// Makes an interrupt (SIGINT or SIGTERM; Ctrl-C or a closed console on
// Windows) delete every temporary file registered below before it ends the
// process, so that an interrupted run leaves the folder as it found it.
// Idempotent.
void InstallTemporaryFileCleanup();

// An interrupt from now on deletes `path`. False when there is no room left
// to note it (a few files at a time) or the path is too long to note.
// Hold InterruptsHeld across creating the file and registering it.
bool RegisterTemporaryFile(const std::string& path);
// `path` is no longer the tool's to delete: renamed into place or deleted.
void ForgetTemporaryFile(const std::string& path);

// A new, empty file beside an output, named `prefix` and six letters or
// digits, registered, and deleted when this object goes. `files` must be one
// that registers the files it creates (CreatePackInputFileSystem) and must
// outlive this object.
class TemporaryFile {
 public:
  explicit TemporaryFile(FileSystem& files) : files_(files) {}
  ~TemporaryFile() { Remove(); }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  // Creates the file; false with errno set when it cannot.
  bool Create(const std::string& prefix);
  void Remove();
  const std::string& path() const { return path_; }

 private:
  FileSystem& files_;
  std::string path_;
};

}  // namespace kesmar
