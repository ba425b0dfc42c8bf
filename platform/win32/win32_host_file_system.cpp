// FileSystem for the host tool on Windows: UTF-8 paths through the wide calls, at any length, listed in NTFS order.
#include <algorithm>
#include <cerrno>
#include <vector>

#include "platform/file_system.h"
#include "platform/host_files.h"
#include "platform/ntfs_order.h"
#include "platform/security.h"
#include "platform/win32/unique_handle.h"
#include "platform/win32/wide_path.h"

namespace kesmar {
namespace {

class ListedEntries final : public FindHandle {
 public:
  std::vector<FindData> entries;
  size_t next = 0;
};

// ReadFile and WriteFile take at most 4 GiB less one byte at a time; these
// pieces keep each call well inside that.
constexpr DWORD kPiece = 1u << 30;

class HandleInputFile final : public InputFile {
 public:
  explicit HandleInputFile(HANDLE handle) : handle_(handle) {}
  uint32_t Read(void* buffer, uint32_t size) override {
    uint32_t done = 0;
    while (done < size) {
      DWORD got = 0;
      if (!::ReadFile(handle_.get(), static_cast<char*>(buffer) + done, std::min<DWORD>(size - done, kPiece), &got,
                      nullptr)) {
        FailWithLastError();
        break;
      }
      if (got == 0) break;
      done += got;
    }
    return done;
  }

 private:
  UniqueFileHandle handle_;
};

class HandleOutputFile final : public OutputFile {
 public:
  explicit HandleOutputFile(HANDLE handle) : handle_(handle) {}
  bool Write(const void* data, uint32_t size) override {
    uint32_t done = 0;
    while (done < size) {
      DWORD wrote = 0;
      if (!::WriteFile(handle_.get(), static_cast<const char*>(data) + done, std::min<DWORD>(size - done, kPiece),
                       &wrote, nullptr)) {
        return FailWithLastError();
      }
      done += wrote;
    }
    return true;
  }
  bool Close() override {
    if (!handle_.valid()) return false;
    // The data reaches the file before the file is renamed into place.
    const bool flushed = ::FlushFileBuffers(handle_.get()) != 0 || FailWithLastError();
    const bool closed = ::CloseHandle(handle_.release()) != 0 || FailWithLastError();
    return flushed && closed;
  }

 private:
  UniqueFileHandle handle_;
};

std::string FolderOfPattern(const std::string& pattern) {
  const size_t separator = pattern.find_last_of("\\/");
  return separator == std::string::npos ? "." : pattern.substr(0, separator);
}

// Others may read the files the tool reads or writes, as on Linux, and
// delete them: an interrupt's cleanup deletes a temporary file that is still
// being written. Only what is read may be written by others meanwhile.
constexpr DWORD kShareReading = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr DWORD kShareWriting = FILE_SHARE_READ | FILE_SHARE_DELETE;

class Win32HostFileSystem final : public FileSystem {
 public:
  std::unique_ptr<FindHandle> FindFirstFileA(const std::string& pattern, FindData* data) override {
    const std::string folder = FolderOfPattern(pattern);
    const std::wstring wide = LongWidePath(folder);
    if (wide.empty()) {
      errno = ENOENT;
      return nullptr;
    }
    auto listed = std::make_unique<ListedEntries>();
    WIN32_FIND_DATAW raw;
    const HANDLE handle = ::FindFirstFileExW((wide + L"\\*").c_str(), FindExInfoBasic, &raw, FindExSearchNameMatch,
                                             nullptr, FIND_FIRST_EX_LARGE_FETCH);
    if (handle == INVALID_HANDLE_VALUE) {
      const DWORD error = ::GetLastError();
      // A drive's root lists no "." and "..": empty, it lists nothing at all.
      if (error != ERROR_FILE_NOT_FOUND) {
        // A file where the folder should be says so, as on Linux.
        errno = InspectPath(folder).kind == PathInfo::kFile ? ENOTDIR : ErrnoFromWin32(error);
        return nullptr;
      }
    } else {
      const UniqueFindHandle search(handle);
      do {
        FindData entry;
        entry.cFileName = Utf8FromWide(raw.cFileName);
        entry.dwFileAttributes = raw.dwFileAttributes;
        const bool folder = (raw.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        entry.nFileSizeHigh = folder ? 0 : raw.nFileSizeHigh;
        entry.nFileSizeLow = folder ? 0 : raw.nFileSizeLow;
        listed->entries.push_back(std::move(entry));
      } while (::FindNextFileW(search.get(), &raw));
    }
    if (listed->entries.empty()) {
      FindData self;
      self.cFileName = ".";
      self.dwFileAttributes = kFileAttributeDirectory;
      listed->entries.push_back(self);
    }
    // NTFS lists in this order already; other file systems (FAT, a network
    // share, Wine's) do not, and the payload must not depend on which.
    std::sort(listed->entries.begin(), listed->entries.end(),
              [](const FindData& a, const FindData& b) { return ListingLess(a.cFileName, b.cFileName); });
    *data = listed->entries[listed->next++];
    return listed;
  }

  bool FindNextFileA(FindHandle& handle, FindData* data) override {
    auto& listed = static_cast<ListedEntries&>(handle);
    if (listed.next >= listed.entries.size()) return false;
    *data = listed.entries[listed.next++];
    return true;
  }

  std::unique_ptr<InputFile> OpenFileForReading(const std::string& path) override {
    const HANDLE handle = Open(path, GENERIC_READ, OPEN_EXISTING);
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    // Only a file on a disk: a device or a pipe could block the run.
    if (::GetFileType(handle) != FILE_TYPE_DISK) {
      ::CloseHandle(handle);
      errno = EACCES;
      return nullptr;
    }
    return std::make_unique<HandleInputFile>(handle);
  }

  std::unique_ptr<OutputFile> OpenFileForWriting(const std::string& path) override {
    const HANDLE handle = Open(path, GENERIC_WRITE, CREATE_ALWAYS);
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    return std::make_unique<HandleOutputFile>(handle);
  }

  // CREATE_NEW fails on any entry of that name, a link included.
  std::unique_ptr<OutputFile> CreateNewFileA(const std::string& path) override {
    const HANDLE handle = Open(path, GENERIC_WRITE, CREATE_NEW);
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    return std::make_unique<HandleOutputFile>(handle);
  }

  uint32_t GetFileAttributesA(const std::string& path) override {
    const DWORD attributes = ::GetFileAttributesW(LongWidePath(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) FailWithLastError();
    return attributes;
  }

  bool CreateDirectoryA(const std::string& path, const SecurityDescriptor* security) override {
    SECURITY_ATTRIBUTES attributes = {};
    attributes.nLength = sizeof attributes;
    attributes.lpSecurityDescriptor = security != nullptr ? const_cast<void*>(security->Native()) : nullptr;
    return ::CreateDirectoryW(LongWidePath(path).c_str(), security != nullptr ? &attributes : nullptr) != 0 ||
           FailWithLastError();
  }

  bool DeleteFileA(const std::string& path) override {
    return ::DeleteFileW(LongWidePath(path).c_str()) != 0 || FailWithLastError();
  }

  bool RemoveDirectoryA(const std::string& path) override {
    return ::RemoveDirectoryW(LongWidePath(path).c_str()) != 0 || FailWithLastError();
  }

  bool CopyFileA(const std::string& from, const std::string& to, bool failIfExists) override {
    return ::CopyFileW(LongWidePath(from).c_str(), LongWidePath(to).c_str(), failIfExists ? TRUE : FALSE) != 0 ||
           FailWithLastError();
  }

  bool MoveFileExA(const std::string& from, const std::string& to) override {
    return ::MoveFileExW(LongWidePath(from).c_str(), LongWidePath(to).c_str(), MOVEFILE_REPLACE_EXISTING) != 0 ||
           FailWithLastError();
  }

  uint32_t GetTempPathA(uint32_t bufferLength, char* buffer) override {
    std::wstring wide;
    if (!GetTempPathW(&wide)) return 0;
    const std::string path = Utf8FromWide(wide);
    if (path.size() + 1 > bufferLength) return uint32_t(path.size() + 1);
    std::copy(path.begin(), path.end(), buffer);
    buffer[path.size()] = '\0';
    return uint32_t(path.size());
  }

  bool GetTempPathW(std::wstring* path) override {
    wchar_t buffer[MAX_PATH + 1];
    const DWORD length = ::GetTempPathW(MAX_PATH + 1, buffer);
    if (length == 0 || length > MAX_PATH) return FailWithLastError();
    path->assign(buffer, length);
    return true;
  }

  // Names here are UTF-8, which holds every name: no short forms are needed.
  bool GetShortPathNameW(const std::wstring&, std::wstring*) override { return false; }
  std::wstring MultiByteToWideChar(const std::string& text) override { return WideFromUtf8(text); }
  bool WideCharToMultiByte(const std::wstring& text, std::string* ansi) override {
    *ansi = Utf8FromWide(text);
    return true;
  }
  // A host tool converts names into a code page itself.
  bool IsDBCSLeadByte(uint8_t) override { return false; }

 private:
  static HANDLE Open(const std::string& path, DWORD access, DWORD disposition) {
    const std::wstring wide = LongWidePath(path);
    if (wide.empty()) {
      errno = ENOENT;
      return INVALID_HANDLE_VALUE;
    }
    const HANDLE handle = ::CreateFileW(wide.c_str(), access, access == GENERIC_READ ? kShareReading : kShareWriting,
                                        nullptr, disposition,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) FailWithLastError();
    return handle;
  }
};

}  // namespace

std::unique_ptr<FileSystem> CreateHostFileSystem() { return std::make_unique<Win32HostFileSystem>(); }

}  // namespace kesmar
