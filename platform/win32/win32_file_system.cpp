// FileSystem over the real Win32 ANSI calls.
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cstdio>

#include "platform/file_system.h"
#include "platform/security.h"
#include "platform/stdio_file.h"
#include "platform/win32/unique_handle.h"

namespace kesmar {
namespace {

class Win32FindHandle final : public FindHandle {
 public:
  explicit Win32FindHandle(HANDLE handle) : handle(handle) {}
  UniqueFindHandle handle;
};

void CopyFindData(const WIN32_FIND_DATAA& raw, FindData* out) {
  out->dwFileAttributes = raw.dwFileAttributes;
  out->nFileSizeHigh = raw.nFileSizeHigh;
  out->nFileSizeLow = raw.nFileSizeLow;
  out->cFileName = raw.cFileName;
}

class Win32FileSystem final : public FileSystem {
 public:
  std::unique_ptr<FindHandle> FindFirstFileA(const std::string& pattern, FindData* data) override {
    WIN32_FIND_DATAA raw;
    const HANDLE handle = ::FindFirstFileA(pattern.c_str(), &raw);
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    CopyFindData(raw, data);
    return std::make_unique<Win32FindHandle>(handle);
  }

  bool FindNextFileA(FindHandle& search, FindData* data) override {
    WIN32_FIND_DATAA raw;
    if (!::FindNextFileA(static_cast<Win32FindHandle&>(search).handle.get(), &raw)) return false;
    CopyFindData(raw, data);
    return true;
  }

  std::unique_ptr<InputFile> OpenFileForReading(const std::string& path) override {
    return MakeStdioInputFile(std::fopen(path.c_str(), "rb"));
  }

  std::unique_ptr<OutputFile> OpenFileForWriting(const std::string& path) override {
    return MakeStdioOutputFile(std::fopen(path.c_str(), "wb"));
  }

  // _O_EXCL is CREATE_NEW: it fails on any entry of that name, a link too.
  std::unique_ptr<OutputFile> CreateNewFileA(const std::string& path) override {
    const int fd = ::_open(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (fd < 0) return nullptr;
    std::FILE* file = ::_fdopen(fd, "wb");
    if (file == nullptr) ::_close(fd);
    return MakeStdioOutputFile(file);
  }

  uint32_t GetFileAttributesA(const std::string& path) override {
    return ::GetFileAttributesA(path.c_str());
  }

  bool CreateDirectoryA(const std::string& path, const SecurityDescriptor* security) override {
    if (security == nullptr) return ::CreateDirectoryA(path.c_str(), nullptr) != 0;
    SECURITY_ATTRIBUTES attributes = {};
    attributes.nLength = sizeof attributes;
    attributes.lpSecurityDescriptor = const_cast<void*>(security->Native());
    attributes.bInheritHandle = FALSE;
    return attributes.lpSecurityDescriptor != nullptr &&
           ::CreateDirectoryA(path.c_str(), &attributes) != 0;
  }

  bool DeleteFileA(const std::string& path) override { return ::DeleteFileA(path.c_str()) != 0; }

  bool RemoveDirectoryA(const std::string& path) override {
    return ::RemoveDirectoryA(path.c_str()) != 0;
  }

  bool CopyFileA(const std::string& from, const std::string& to, bool failIfExists) override {
    return ::CopyFileA(from.c_str(), to.c_str(), failIfExists ? TRUE : FALSE) != 0;
  }

  bool MoveFileExA(const std::string& from, const std::string& to) override {
    return ::MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
  }

  uint32_t GetTempPathA(uint32_t bufferLength, char* buffer) override {
    return ::GetTempPathA(bufferLength, buffer);
  }

  bool GetTempPathW(std::wstring* path) override {
    wchar_t buffer[MAX_PATH + 1] = {};
    const DWORD length = ::GetTempPathW(MAX_PATH + 1, buffer);
    if (length == 0 || length > MAX_PATH) return false;
    path->assign(buffer, length);
    return true;
  }

  bool GetShortPathNameW(const std::wstring& path, std::wstring* shortPath) override {
    const DWORD needed = ::GetShortPathNameW(path.c_str(), nullptr, 0);
    if (needed == 0) return false;
    std::wstring buffer(needed, L'\0');
    const DWORD length = ::GetShortPathNameW(path.c_str(), &buffer[0], needed);
    if (length == 0 || length >= needed) return false;
    buffer.resize(length);
    *shortPath = buffer;
    return true;
  }

  std::wstring MultiByteToWideChar(const std::string& text) override {
    if (text.empty()) return std::wstring();
    const int length = ::MultiByteToWideChar(CP_ACP, 0, text.data(), int(text.size()), nullptr, 0);
    if (length <= 0) return std::wstring();
    std::wstring wide(size_t(length), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, text.data(), int(text.size()), &wide[0], length);
    return wide;
  }

  bool WideCharToMultiByte(const std::wstring& text, std::string* ansi) override {
    if (text.empty()) {
      ansi->clear();
      return true;
    }
    // Best fit would turn a character it cannot write into a look-alike, which
    // names another file; any replacement at all makes the conversion fail.
    BOOL replaced = FALSE;
    const int length = ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(),
                                             int(text.size()), nullptr, 0, nullptr, &replaced);
    if (length <= 0 || replaced) return false;
    std::string bytes(size_t(length), '\0');
    ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(), int(text.size()), &bytes[0],
                          length, nullptr, &replaced);
    if (replaced) return false;
    *ansi = bytes;
    return true;
  }

  bool IsDBCSLeadByte(uint8_t byte) override { return ::IsDBCSLeadByte(byte) != FALSE; }
};

}  // namespace

std::unique_ptr<FileSystem> CreateNativeFileSystem() { return std::make_unique<Win32FileSystem>(); }

}  // namespace kesmar
