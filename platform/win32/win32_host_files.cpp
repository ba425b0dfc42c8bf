// The host tool's file queries on Windows: attributes, file identities, a probe of a folder, the module's path.
#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/host_files.h"
#include "platform/win32/unique_handle.h"
#include "platform/win32/wide_path.h"

namespace kesmar {
namespace {

// Opens what `path` leads to, links followed, for its identity and size.
UniqueFileHandle OpenForQuery(const std::wstring& path) {
  return UniqueFileHandle(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

PathInfo FromHandle(HANDLE handle) {
  PathInfo info;
  BY_HANDLE_FILE_INFORMATION data;
  if (::GetFileType(handle) != FILE_TYPE_DISK || !::GetFileInformationByHandle(handle, &data)) {
    info.kind = PathInfo::kOther;  // a device, a pipe
    return info;
  }
  info.kind = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? PathInfo::kFolder : PathInfo::kFile;
  if (info.kind == PathInfo::kFile) info.size = (uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  return info;
}

PathInfo Failed(DWORD error) {
  PathInfo info;
  info.error = ErrnoFromWin32(error);
  info.kind = info.error == ENOENT ? PathInfo::kMissing : PathInfo::kUnreachable;
  return info;
}

}  // namespace

const char kHostPathSeparators[] = "\\/";

char ShownSeparator(const std::string& folder) {
  return folder.find('/') != std::string::npos && folder.find('\\') == std::string::npos ? '/' : '\\';
}

PathInfo InspectPath(const std::string& path, bool followLinks) {
  const std::wstring wide = LongWidePath(path);
  if (wide.empty()) return Failed(ERROR_INVALID_NAME);
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (::GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &data)) {
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
      PathInfo info;
      info.kind = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? PathInfo::kFolder : PathInfo::kFile;
      if (info.kind == PathInfo::kFile) info.size = (uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
      return info;
    }
    if (!followLinks) {
      PathInfo info;
      info.kind = PathInfo::kOther;
      return info;
    }
    // A link: what it leads to, or nothing.
    const UniqueFileHandle target = OpenForQuery(wide);
    return target.valid() ? FromHandle(target.get()) : Failed(::GetLastError());
  }
  const DWORD error = ::GetLastError();
  // Devices (NUL, CON) have no attributes, but open.
  const UniqueFileHandle device = OpenForQuery(wide);
  return device.valid() ? FromHandle(device.get()) : Failed(error);
}

bool SameFile(const std::string& a, const std::string& b) {
  const UniqueFileHandle first = OpenForQuery(LongWidePath(a));
  const UniqueFileHandle second = OpenForQuery(LongWidePath(b));
  BY_HANDLE_FILE_INFORMATION one, two;
  return first.valid() && second.valid() && ::GetFileInformationByHandle(first.get(), &one) &&
         ::GetFileInformationByHandle(second.get(), &two) && one.dwVolumeSerialNumber == two.dwVolumeSerialNumber &&
         one.nFileIndexHigh == two.nFileIndexHigh && one.nFileIndexLow == two.nFileIndexLow;
}

// Windows has no access() that tells: a file is created there, and deleted
// by the system as soon as it is closed.
int FolderWriteError(const std::string& folder) {
  if (LongWidePath(folder).empty()) return ENOENT;
  for (int attempt = 0; attempt < 10; ++attempt) {
    // The long form is taken of the probe's whole path: a folder a little
    // short of MAX_PATH needs it for the name inside.
    const std::wstring probe = LongWidePath(folder + "\\kesmar-pack-probe-" + std::to_string(::GetCurrentProcessId()) +
                                            "-" + std::to_string(::GetTickCount64() + attempt));
    const HANDLE handle = ::CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
      ::CloseHandle(handle);
      return 0;
    }
    if (::GetLastError() != ERROR_FILE_EXISTS) return ErrnoFromWin32(::GetLastError());
  }
  return EEXIST;
}

std::string ExecutableFolder() {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD length = ::GetModuleFileNameW(nullptr, buffer.data(), DWORD(buffer.size()));
    if (length == 0) return "";
    if (length < buffer.size()) {
      std::wstring path(buffer.data(), length);
      if (path.compare(0, 4, L"\\\\?\\") == 0) path.erase(0, 4);
      const size_t separator = path.find_last_of(L"\\/");
      return separator == std::wstring::npos ? "" : Utf8FromWide(path.substr(0, separator));
    }
    buffer.resize(buffer.size() * 2);
  }
}

// FindFirstFileW lists every entry, links to nothing included.
std::vector<UnlistedEntry> UnlistedEntries(const std::string&, const std::set<std::string>&) { return {}; }

}  // namespace kesmar
