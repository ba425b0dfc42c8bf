// A fresh temporary folder for one test, removed afterwards, and a scoped change of the current folder.
#pragma once

#include <filesystem>
#include <string>

namespace kesmar::testing {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // Writes a file below the folder (binary), creating parent folders.
  void Write(const std::string& relative, const std::string& content) const;
  std::string Read(const std::string& relative) const;
  bool Exists(const std::string& relative) const;

 private:
  std::filesystem::path path_;
};

// Makes `folder` the current folder until destroyed.
class ScopedCurrentDir {
 public:
  explicit ScopedCurrentDir(const std::filesystem::path& folder);
  ~ScopedCurrentDir();

 private:
  std::filesystem::path previous_;
};

}  // namespace kesmar::testing
