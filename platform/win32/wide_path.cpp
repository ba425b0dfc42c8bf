// WideFromUtf8, Utf8FromWide, LongWidePath and the errno mapping.
#include "platform/win32/wide_path.h"

#include <cerrno>
#include <vector>

#include "platform/ntfs_order.h"

namespace kesmar {

std::wstring WideFromUtf8(const std::string& text) {
  if (text.empty()) return std::wstring();
  const int length = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), int(text.size()), nullptr, 0);
  if (length <= 0) return std::wstring();
  std::wstring wide(size_t(length), L'\0');
  ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), int(text.size()), wide.data(), length);
  return wide;
}

std::string Utf8FromWide(const std::wstring& text) {
  std::string utf8;
  Utf16ToUtf8(std::u16string(text.begin(), text.end()), &utf8);
  return utf8;
}

std::wstring LongWidePath(const std::string& path) {
  const std::wstring wide = WideFromUtf8(path);
  if (wide.empty()) return std::wstring();
  // Already in the form that is passed on as it is.
  if (wide.compare(0, 4, L"\\\\?\\") == 0) return wide;
  const DWORD needed = ::GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return std::wstring();
  std::vector<wchar_t> buffer(needed + 1);
  const DWORD length = ::GetFullPathNameW(wide.c_str(), DWORD(buffer.size()), buffer.data(), nullptr);
  if (length == 0 || length >= buffer.size()) return std::wstring();
  std::wstring full(buffer.data(), length);
  // CreateDirectoryW stops 12 characters short of MAX_PATH.
  if (full.size() < MAX_PATH - 12) return full;
  if (full.compare(0, 2, L"\\\\") == 0) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

int ErrnoFromWin32(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
    case ERROR_PRIVILEGE_NOT_HELD:
      return EACCES;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return EEXIST;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    case ERROR_DIRECTORY:
      return ENOTDIR;
    case ERROR_DIR_NOT_EMPTY:
      return ENOTEMPTY;
    case ERROR_FILENAME_EXCED_RANGE:
      return ENAMETOOLONG;
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_INVALID_PARAMETER:
      return EINVAL;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return ENOMEM;
    default:
      return EIO;
  }
}

bool FailWithLastError() {
  errno = ErrnoFromWin32(::GetLastError());
  return false;
}

}  // namespace kesmar
