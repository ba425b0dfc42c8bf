// FileSystem for Linux hosts: Windows-style paths and listings over POSIX calls.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/file_system.h"
#include "platform/security.h"
#include "platform/ntfs_order.h"
#include "platform/stdio_file.h"

namespace kesmar {
namespace {

// Our paths use "\\"; names holding a backslash never reach here, because
// the record-name rule refuses them.
std::string ToNative(const std::string& path) {
  std::string native = path;
  std::replace(native.begin(), native.end(), '\\', '/');
  return native;
}

class PosixFindHandle final : public FindHandle {
 public:
  std::vector<FindData> entries;
  size_t next = 0;
};

bool StatEntry(const std::string& path, const std::string& name, FindData* out) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return false;
  out->cFileName = name;
  out->dwFileAttributes = S_ISDIR(st.st_mode) ? kFileAttributeDirectory : 0x80;  // NORMAL
  const uint64_t size = S_ISDIR(st.st_mode) ? 0 : uint64_t(st.st_size);
  out->nFileSizeHigh = uint32_t(size >> 32);
  out->nFileSizeLow = uint32_t(size);
  return true;
}

class PosixFileSystem final : public FileSystem {
 public:
  std::unique_ptr<FindHandle> FindFirstFileA(const std::string& pattern, FindData* data) override {
    // Only "folder\\*" is used: every entry of one folder.
    const std::string native = ToNative(pattern);
    const size_t slash = native.rfind('/');
    if (slash == std::string::npos || native.substr(slash + 1) != "*") return nullptr;
    const std::string folder = native.substr(0, slash);

    DIR* dir = ::opendir(folder.empty() ? "/" : folder.c_str());
    if (dir == nullptr) return nullptr;
    auto search = std::make_unique<PosixFindHandle>();
    while (const dirent* entry = ::readdir(dir)) {
      FindData found;
      // An entry that vanished between readdir and stat is not listed, as on
      // Windows, where the listing is a snapshot.
      if (StatEntry(folder + "/" + entry->d_name, entry->d_name, &found)) {
        search->entries.push_back(std::move(found));
      }
    }
    ::closedir(dir);
    // Windows lists NTFS folders in this order; sorting here makes a build on
    // Linux deterministic and equal to one on Windows.
    std::sort(search->entries.begin(), search->entries.end(),
              [](const FindData& a, const FindData& b) { return ListingLess(a.cFileName, b.cFileName); });
    if (search->entries.empty()) return nullptr;
    *data = search->entries[search->next++];
    return search;
  }

  bool FindNextFileA(FindHandle& handle, FindData* data) override {
    auto& search = static_cast<PosixFindHandle&>(handle);
    if (search.next >= search.entries.size()) return false;
    *data = search.entries[search.next++];
    return true;
  }

  std::unique_ptr<InputFile> OpenFileForReading(const std::string& path) override {
    // Non-blocking open and a regular-file check: a FIFO or device in the
    // folder must fail the open rather than hang the build.
    const int fd = ::open(ToNative(path).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
      ::close(fd);
      return nullptr;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    std::FILE* file = ::fdopen(fd, "rb");
    if (file == nullptr) ::close(fd);
    return MakeStdioInputFile(file);
  }

  std::unique_ptr<OutputFile> OpenFileForWriting(const std::string& path) override {
    return MakeStdioOutputFile(std::fopen(ToNative(path).c_str(), "wb"));
  }

  std::unique_ptr<OutputFile> CreateNewFileA(const std::string& path) override {
    const int fd = ::open(ToNative(path).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) return nullptr;
    std::FILE* file = ::fdopen(fd, "wb");
    if (file == nullptr) ::close(fd);
    return MakeStdioOutputFile(file);
  }

  uint32_t GetFileAttributesA(const std::string& path) override {
    struct stat st;
    if (::stat(ToNative(path).c_str(), &st) != 0) return kInvalidFileAttributes;
    return S_ISDIR(st.st_mode) ? kFileAttributeDirectory : 0x80;
  }

  // A folder with a descriptor of its own is private to its owner here: the
  // nearest a mode comes to a DACL that lets no other user in.
  bool CreateDirectoryA(const std::string& path, const SecurityDescriptor* security) override {
    return ::mkdir(ToNative(path).c_str(), security != nullptr ? 0700 : 0777) == 0;
  }

  bool DeleteFileA(const std::string& path) override {
    // DeleteFileA never removes a folder.
    struct stat st;
    const std::string native = ToNative(path);
    if (::lstat(native.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return false;
    return ::unlink(native.c_str()) == 0;
  }

  bool RemoveDirectoryA(const std::string& path) override {
    return ::rmdir(ToNative(path).c_str()) == 0;
  }

  bool CopyFileA(const std::string& from, const std::string& to, bool failIfExists) override {
    auto in = OpenFileForReading(from);
    if (!in) return false;
    const std::string nativeTo = ToNative(to);
    const int fd = ::open(nativeTo.c_str(),
                          O_WRONLY | O_CREAT | O_CLOEXEC | (failIfExists ? O_EXCL : O_TRUNC), 0666);
    if (fd < 0) return false;
    auto out = MakeStdioOutputFile(::fdopen(fd, "wb"));
    if (!out) {
      ::close(fd);
      return false;
    }
    std::vector<char> buffer(1 << 16);
    bool ok = true;
    while (uint32_t got = in->Read(buffer.data(), uint32_t(buffer.size()))) {
      if (!out->Write(buffer.data(), got)) {
        ok = false;
        break;
      }
    }
    return out->Close() && ok;
  }

  bool MoveFileExA(const std::string& from, const std::string& to) override {
    return ::rename(ToNative(from).c_str(), ToNative(to).c_str()) == 0;
  }

  uint32_t GetTempPathA(uint32_t bufferLength, char* buffer) override {
    const char* tmp = std::getenv("TMPDIR");
    std::string path = (tmp != nullptr && *tmp != '\0') ? tmp : "/tmp";
    if (path.back() != '/') path += '/';
    if (path.size() + 1 > bufferLength) return uint32_t(path.size() + 1);
    std::memcpy(buffer, path.c_str(), path.size() + 1);
    return uint32_t(path.size());
  }

  bool GetTempPathW(std::wstring* path) override {
    char buffer[kMaxPath];
    const uint32_t length = GetTempPathA(kMaxPath, buffer);
    if (length == 0 || length >= kMaxPath) return false;
    *path = MultiByteToWideChar(std::string(buffer, length));
    return true;
  }

  // Linux file systems have no 8.3 names.
  bool GetShortPathNameW(const std::wstring&, std::wstring*) override { return false; }

  // Names here are UTF-8, which holds every UTF-16 character.
  std::wstring MultiByteToWideChar(const std::string& text) override {
    std::u16string units;
    Utf8ToUtf16(text, &units);
    return std::wstring(units.begin(), units.end());
  }

  bool WideCharToMultiByte(const std::wstring& text, std::string* ansi) override {
    return Utf16ToUtf8(std::u16string(text.begin(), text.end()), ansi);
  }

  // Names here are UTF-8, which has no two-byte characters of that kind; a
  // host tool that packs for a Windows code page converts them itself.
  bool IsDBCSLeadByte(uint8_t) override { return false; }
};

}  // namespace

std::unique_ptr<FileSystem> CreateNativeFileSystem() { return std::make_unique<PosixFileSystem>(); }

}  // namespace kesmar
