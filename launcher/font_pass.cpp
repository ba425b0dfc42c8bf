// ProcessExtractedFiles, InstallFont and GetFontsFolder.
#include "launcher/font_pass.h"

#include <algorithm>
#include <cstring>

#include "launcher/ansi_path.h"
#include "platform/file_system.h"
#include "platform/fonts.h"

namespace kesmar {
namespace {

// Only A-Z are folded: other bytes may be letters of the ANSI code page,
// whose case rules this test must not depend on.
std::string FoldAsciiToLower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  }
  return text;
}

bool EndsInSeparator(const std::string& path) {
  return !path.empty() && (path.back() == '\\' || path.back() == '/');
}

std::string Join(const std::string& folder, const std::string& name) {
  return folder + (EndsInSeparator(folder) ? "" : "\\") + name;
}

bool Exists(FileSystem& files, const std::string& path) {
  return files.GetFileAttributesA(path) != kInvalidFileAttributes;
}

// Creates `folder`'s missing parts below `root`, which exists; `relative`
// holds them, separated by "\\". True when the whole path is a folder.
bool CreateFolders(FileSystem& files, const std::string& root, const std::string& relative) {
  std::string path = root;
  size_t start = 0;
  while (start <= relative.size()) {
    const size_t end = std::min(relative.find('\\', start), relative.size());
    path = Join(path, relative.substr(start, end - start));
    start = end + 1;
    const uint32_t attributes = files.GetFileAttributesA(path);
    if (attributes == kInvalidFileAttributes) {
      if (!files.CreateDirectoryA(path, nullptr)) return false;
    } else if ((attributes & kFileAttributeDirectory) == 0) {
      return false;
    }
  }
  return true;
}

// The current user's font folder, created when missing; empty when it
// cannot be had. Its root may lie outside the ANSI code page (a user name in
// another script): then its short form serves.
std::string UserFontsFolder(const Platform& platform) {
  std::string ansi;
  std::wstring wide;
  std::string root;
  if (!platform.fonts->SHGetFolderPathA(kCsidlLocalAppData, &ansi) ||
      !platform.fonts->SHGetFolderPathW(kCsidlLocalAppData, &wide) ||
      !AnsiPathOf(*platform.files, ansi, wide, &root) || root.empty() ||
      !CreateFolders(*platform.files, root, kUserFontsSubfolder)) {
    return std::string();
  }
  return Join(root, kUserFontsSubfolder);
}

// A standard user may not write into the Fonts folder; the font is then
// installed for that user alone, as the shell does it: a file in the user's
// font folder, added to this session's font table (so the setup program has
// it), and registered under HKCU with its full path, which Windows 10 1809
// and later load at every logon. No "fonts" profile entry is written: its
// bare file name would point into the Fonts folder, where the font is not.
// Any step that fails ends the installation of this font.
void InstallFontForUser(const Platform& platform, const std::string& sourcePath,
                        const std::string& fileName, const std::string& key) {
  FileSystem& files = *platform.files;
  FontApi& fonts = *platform.fonts;
  const std::string folder = UserFontsFolder(platform);
  if (folder.empty()) return;
  const std::string destination = Join(folder, fileName);
  // A file of that name already there is kept and used.
  const bool copied = files.CopyFileA(sourcePath, destination, true);
  if (!copied && !Exists(files, destination)) return;
  if (fonts.AddFontResourceA(destination) == 0) {
    // Nothing would ever use or remove a copy the font table refuses.
    if (copied) files.DeleteFileA(destination);
    return;
  }
  fonts.CreateBroadcastThread();
  const std::unique_ptr<RegistryKey> fontsKey = fonts.RegCreateKeyExA(kUserFontsKey);
  if (fontsKey != nullptr) fonts.RegSetValueExA(*fontsKey, key, destination);
}

}  // namespace

std::string GetFontsFolder(FontApi& fonts) {
  ItemIdList* itemList = nullptr;
  if (!fonts.SHGetFolderLocation(kCsidlFonts, &itemList)) return std::string();

  char buffer[kMaxPath] = {};
  std::string result;
  if (fonts.SHGetPathFromIDListA(itemList, buffer)) {
    // Bounded, should the call ever fill the buffer without a terminator.
    result.assign(buffer, strnlen(buffer, kMaxPath));
  }
  fonts.CoTaskMemFree(itemList);
  return result;
}

void InstallFont(const Platform& platform, const std::string& sourcePath,
                 const std::string& fileName, std::string& fontsFolder) {
  FileSystem& files = *platform.files;
  FontApi& fonts = *platform.fonts;

  if (fontsFolder.empty()) fontsFolder = GetFontsFolder(fonts);
  if (!fontsFolder.empty()) {
    const std::string destination = Join(fontsFolder, fileName);
    const std::string key = fileName.substr(0, fileName.size() - 4) + kFontKeySuffix;
    // A font already in the Fonts folder is kept as it is; it is still added
    // and registered below, from its place there.
    if (files.CopyFileA(sourcePath, destination, true) || Exists(files, destination)) {
      fonts.AddFontResourceA(destination);
      fonts.CreateBroadcastThread();
      fonts.WriteProfileStringA(kFontsSection, key, fileName);
    } else {
      InstallFontForUser(platform, sourcePath, fileName, key);
    }
  }
  // The entry stays in the cleanup list; its next attempt finds the path gone.
  files.DeleteFileA(sourcePath);
}

void ProcessExtractedFiles(const Platform& platform, const std::vector<std::string>& extractedNames,
                           const CleanupList& list, std::string* setupPath) {
  std::string fontsFolder;
  // The names pair with the list's entries one for one; the bound only keeps
  // a caller that broke the pairing from reading past the list.
  size_t n = std::min(extractedNames.size(), list.FileCount());
  while (n-- > 0) {
    const std::string& name = extractedNames[n];
    if (name.size() < 4) continue;
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot + 1 == name.size()) continue;

    const std::string extension = FoldAsciiToLower(name.substr(dot + 1));
    if (extension == "ttf") {
      InstallFont(platform, list.FileAt(n), name, fontsFolder);
    } else if (extension == "exe" && name == kSetupProgramName) {
      // Walking backwards, the first such file in extraction order wins.
      if (setupPath != nullptr) *setupPath = list.FileAt(n);
    }
  }
}

}  // namespace kesmar
