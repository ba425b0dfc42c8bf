// An in-memory FileSystem that logs every call and fails chosen calls on demand.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "payload/record_name.h"
#include "platform/file_system.h"
#include "tests/fakes/call_log.h"
#include "tests/fakes/failure_set.h"

namespace kesmar::testing {

class FakeFileSystem final : public FileSystem {
 public:
  explicit FakeFileSystem(CallLog* log = nullptr);

  // Setting up the disk. Paths are compared byte for byte.
  void AddFolder(const std::string& path);
  void AddFile(const std::string& path, const std::string& content);
  // Lists the file with this size instead of its real one.
  void SetListedSize(const std::string& path, uint64_t size);
  // The temporary folder, as GetTempPathA reports it; GetTempPathW then
  // reports the same path.
  void SetTempPath(const std::string& path) {
    tempPath_ = path;
    tempPathW_ = MultiByteToWideChar(path);
  }
  // The temporary folder as GetTempPathW reports it; GetTempPathA reports it
  // as Windows would, "?" for every character outside the code page.
  void SetWideTempPath(const std::wstring& path);
  // The short form that GetShortPathNameW gives for `path`; none by default.
  void SetShortPath(const std::wstring& path, const std::wstring& shortPath) {
    shortPaths_[path] = shortPath;
  }
  // The security descriptor's SDDL that the folder was created with; empty
  // when it inherited its parent's.
  std::string FolderSddl(const std::string& path) const;
  // Whether listings begin with "." and ".."; as on Windows by default. Some
  // file systems on Linux leave them out.
  void SetListsDots(bool listsDots) { listsDots_ = listsDots; }
  // The ANSI code page's lead bytes, as IsDBCSLeadByte answers; none by default.
  void SetLeadBytes(const LeadBytes& leadBytes) { leadBytes_ = leadBytes; }

  bool Exists(const std::string& path) const { return nodes_.count(path) != 0; }
  bool IsFolder(const std::string& path) const;
  std::string Content(const std::string& path) const;
  // Every path that begins with `prefix`, in byte order.
  std::vector<std::string> PathsStartingWith(const std::string& prefix) const;
  // Every path below `folder`, in creation order.
  std::vector<std::string> Children(const std::string& folder) const;

  // Makes matching calls fail. `operation` is a method name, or "Write" /
  // "Close" for an OutputFile; an empty `path` matches any path; `nth` counts
  // matching calls from 1, and 0 fails every matching call.
  void Fail(const std::string& operation, const std::string& path = "", int nth = 0) {
    failures_.Add(operation, path, nth);
  }
  void ClearFailures() { failures_.Clear(); }

  CallLog& log() { return *log_; }

  std::unique_ptr<FindHandle> FindFirstFileA(const std::string& pattern, FindData* data) override;
  bool FindNextFileA(FindHandle& search, FindData* data) override;
  std::unique_ptr<InputFile> OpenFileForReading(const std::string& path) override;
  std::unique_ptr<OutputFile> OpenFileForWriting(const std::string& path) override;
  std::unique_ptr<OutputFile> CreateNewFileA(const std::string& path) override;
  uint32_t GetFileAttributesA(const std::string& path) override;
  bool CreateDirectoryA(const std::string& path, const SecurityDescriptor* security) override;
  bool DeleteFileA(const std::string& path) override;
  bool RemoveDirectoryA(const std::string& path) override;
  bool CopyFileA(const std::string& from, const std::string& to, bool failIfExists) override;
  bool MoveFileExA(const std::string& from, const std::string& to) override;
  uint32_t GetTempPathA(uint32_t bufferLength, char* buffer) override;
  bool GetTempPathW(std::wstring* path) override;
  bool GetShortPathNameW(const std::wstring& path, std::wstring* shortPath) override;
  // The fake's code page is Latin-1: byte n is U+00nn. Not logged: pure.
  std::wstring MultiByteToWideChar(const std::string& text) override;
  bool WideCharToMultiByte(const std::wstring& text, std::string* ansi) override;
  // Not logged: a pure query of the code page, with no effect and no failure.
  bool IsDBCSLeadByte(uint8_t byte) override { return leadBytes_.Has(byte); }

  // Used by the fake's output files.
  bool ShouldFail(const std::string& operation, const std::string& path) {
    return failures_.ShouldFail(operation, path);
  }
  void Store(const std::string& path, const std::string& content);

 private:
  struct Node {
    bool folder = false;
    std::string content;
    uint64_t listedSize = UINT64_MAX;  // UINT64_MAX: the content's size
    uint64_t order = 0;
    std::string sddl;  // folders: the descriptor they were created with
  };
  std::string Parent(const std::string& path) const;
  void Put(const std::string& path, Node node);

  CallLog ownLog_;
  CallLog* log_;
  std::map<std::string, Node> nodes_;
  FailureSet failures_;
  std::string tempPath_ = "C:\\Temp\\";
  std::wstring tempPathW_ = L"C:\\Temp\\";
  std::map<std::wstring, std::wstring> shortPaths_;
  LeadBytes leadBytes_;
  bool listsDots_ = true;
  uint64_t nextOrder_ = 0;
};

}  // namespace kesmar::testing
