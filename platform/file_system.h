// The file and folder operations the launcher and the builder use, behind one interface.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace kesmar {

class SecurityDescriptor;  // platform/security.h

constexpr uint32_t kInvalidFileAttributes = 0xFFFFFFFFu;  // INVALID_FILE_ATTRIBUTES
constexpr uint32_t kFileAttributeDirectory = 0x10;       // FILE_ATTRIBUTE_DIRECTORY
constexpr uint32_t kMaxPath = 260;                         // MAX_PATH

// The fields of WIN32_FIND_DATAA that the builder reads.
struct FindData {
  uint32_t dwFileAttributes = 0;
  uint32_t nFileSizeHigh = 0;
  uint32_t nFileSizeLow = 0;
  std::string cFileName;
};

// An open directory search; destroying it closes the search (FindClose).
class FindHandle {
 public:
  virtual ~FindHandle() = default;
};

// A file opened for reading in binary mode; destroying it closes the file.
class InputFile {
 public:
  virtual ~InputFile() = default;
  // Reads up to `size` bytes into `buffer`; returns the count actually read.
  virtual uint32_t Read(void* buffer, uint32_t size) = 0;
};

// A file opened for writing in binary mode. Destroying it without Close()
// closes it too, ignoring the outcome.
class OutputFile {
 public:
  virtual ~OutputFile() = default;
  // Writes all `size` bytes; true when every byte was accepted.
  virtual bool Write(const void* data, uint32_t size) = 0;
  // Flushes and closes; true when everything reached the file. Call once.
  virtual bool Close() = 0;
};

// Paths are 8-bit strings in the ANSI code page, with "\\" as separator.
class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // Starts listing the entries matching `pattern` ("folder\\*"). Null when the
  // folder is missing or cannot be listed (INVALID_HANDLE_VALUE); otherwise
  // the first entry is in *data.
  virtual std::unique_ptr<FindHandle> FindFirstFileA(const std::string& pattern, FindData* data) = 0;
  // Delivers the next entry into *data; false when the listing is over.
  virtual bool FindNextFileA(FindHandle& search, FindData* data) = 0;

  // Opens an existing file for reading in binary mode; null when it does not open.
  virtual std::unique_ptr<InputFile> OpenFileForReading(const std::string& path) = 0;
  // Creates a file, or truncates an existing one, for writing in binary mode;
  // null when it does not open.
  virtual std::unique_ptr<OutputFile> OpenFileForWriting(const std::string& path) = 0;
  // Creates `path` as a new, empty file for writing in binary mode; null when
  // anything of that name exists, a link included, which is never followed.
  virtual std::unique_ptr<OutputFile> CreateNewFileA(const std::string& path) = 0;

  // The attribute bits of `path`, or kInvalidFileAttributes when it cannot be queried.
  virtual uint32_t GetFileAttributesA(const std::string& path) = 0;
  // Creates one folder, with `security` as its descriptor, or, when it is
  // null, with what it inherits from its parent. True when it was created;
  // false when anything of that name exists.
  virtual bool CreateDirectoryA(const std::string& path, const SecurityDescriptor* security) = 0;
  // Deletes a file; true when it was deleted.
  virtual bool DeleteFileA(const std::string& path) = 0;
  // Removes an empty folder; true when it was removed.
  virtual bool RemoveDirectoryA(const std::string& path) = 0;
  // Copies a file; with failIfExists an existing destination is kept and the
  // call fails. True when the copy was made.
  virtual bool CopyFileA(const std::string& from, const std::string& to, bool failIfExists) = 0;
  // Renames `from` to `to`, replacing an existing `to` (MOVEFILE_REPLACE_EXISTING).
  // True when `to` now holds what `from` held.
  virtual bool MoveFileExA(const std::string& from, const std::string& to) = 0;
  // Writes the temporary folder's path, ending in a separator, into `buffer`
  // (room `bufferLength` characters, terminator included). Returns its length,
  // 0 on failure, or the room needed when the buffer is too small.
  virtual uint32_t GetTempPathA(uint32_t bufferLength, char* buffer) = 0;
  // The temporary folder's path in UTF-16, ending in a separator; false on failure.
  virtual bool GetTempPathW(std::wstring* path) = 0;
  // The short (8.3) form of an existing `path`; false when there is none.
  virtual bool GetShortPathNameW(const std::wstring& path, std::wstring* shortPath) = 0;
  // ANSI text as UTF-16, byte for byte as the ANSI calls would read it. A pure
  // query of the code page, like IsDBCSLeadByte.
  virtual std::wstring MultiByteToWideChar(const std::string& text) = 0;
  // UTF-16 text in the ANSI code page; false when a character has no exact
  // form there (no best-fit replacement, no default character).
  virtual bool WideCharToMultiByte(const std::wstring& text, std::string* ansi) = 0;
  // True when `byte` begins a two-byte character in the ANSI code page that
  // this file system's names are in. A query of the code page only: it
  // touches nothing and cannot fail.
  virtual bool IsDBCSLeadByte(uint8_t byte) = 0;
};

// A new file named `prefix` and six letters or digits, a name that no entry
// had: created with CreateNewFileA, trying other names while one exists. Its
// path goes to `path`. Null when no file can be created there.
std::unique_ptr<OutputFile> CreateUniqueFile(FileSystem& files, const std::string& prefix, std::string* path);

// The file system of the machine the program runs on. The caller owns it, so
// the launcher keeps no object alive outside its entry function.
std::unique_ptr<FileSystem> CreateNativeFileSystem();

}  // namespace kesmar
