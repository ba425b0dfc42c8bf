// kesmar-pack's temporary files beside its output, removed again on SIGINT and SIGTERM.
#pragma once

#include <signal.h>

#include <string>

#include "platform/file_system.h"

namespace kesmar {

// Installs handlers for SIGINT and SIGTERM that delete every temporary file
// registered below and then end the process by the same signal, so that an
// interrupted run leaves the folder as it found it. Idempotent.
void InstallTemporaryFileCleanup();

// While alive, SIGINT and SIGTERM wait: hold one across creating a file and
// registering it, so that no signal comes between the two.
class SignalsHeld {
 public:
  SignalsHeld();
  ~SignalsHeld();
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;

 private:
  sigset_t previous_;
};

// A signal from now on deletes `path`. False when there is no room left to
// note it (a few files at a time) or the path is too long to be a file.
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
