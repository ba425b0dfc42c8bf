// AnsiPathOf and GetTempFolderA.
#include "launcher/ansi_path.h"

#include <cstring>

namespace kesmar {

// A user whose name lies outside the machine's ANSI code page (Cyrillic or
// Chinese on a Western-European Windows) has a temporary folder whose ANSI
// name holds "?" or best-fit look-alikes: it names no folder, or another
// one. Its short name is plain ANSI and names the same folder.
bool AnsiPathOf(FileSystem& files, const std::string& ansi, const std::wstring& wide,
                std::string* usable) {
  if (files.MultiByteToWideChar(ansi) == wide) {
    *usable = ansi;
    return true;
  }
  std::wstring shortPath;
  if (!files.GetShortPathNameW(wide, &shortPath)) return false;
  return files.WideCharToMultiByte(shortPath, usable);
}

bool GetTempFolderA(FileSystem& files, std::string* path) {
  char buffer[kMaxPath] = {};
  const uint32_t length = files.GetTempPathA(kMaxPath, buffer);
  if (length == 0 || length > kMaxPath) return false;
  std::wstring wide;
  if (!files.GetTempPathW(&wide)) return false;
  std::string usable;
  if (!AnsiPathOf(files, std::string(buffer, strnlen(buffer, kMaxPath)), wide, &usable)) {
    return false;
  }
  if (usable.size() >= kMaxPath) return false;
  *path = usable;
  return true;
}

}  // namespace kesmar
