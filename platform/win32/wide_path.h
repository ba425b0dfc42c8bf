// UTF-8 paths of the host tool as Windows' wide calls take them, and their errors as errno values.
#pragma once

#include <string>

#include "platform/win32/windows_api.h"

namespace kesmar {

// UTF-8 text as UTF-16. Text that is not valid UTF-8 gives an empty string.
std::wstring WideFromUtf8(const std::string& text);
// UTF-16 text as UTF-8. A lone surrogate, which some names hold, becomes the
// byte 0xFF, so that the name is refused as one that is not valid UTF-8.
std::string Utf8FromWide(const std::wstring& text);

// A UTF-8 path as a full wide path that the wide calls take at any length:
// relative paths are made absolute, "/" becomes "\\", and a path of
// MAX_PATH characters or more gets the "\\\\?\\" prefix that lifts the limit.
// Empty when the path cannot be made full.
std::wstring LongWidePath(const std::string& path);

// The errno value that stands nearest to a Windows error code, so that the
// tool says the same words on both systems ("No such file or directory").
int ErrnoFromWin32(DWORD error);
// Sets errno from GetLastError() and returns false, for failing calls.
bool FailWithLastError();

}  // namespace kesmar
