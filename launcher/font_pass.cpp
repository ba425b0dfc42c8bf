// ProcessExtractedFiles, InstallFont and GetFontsFolder.
#include "launcher/font_pass.h"

#include <algorithm>
#include <cstring>

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
    const std::string destination =
        fontsFolder + (EndsInSeparator(fontsFolder) ? "" : "\\") + fileName;
    // A font already in the Fonts folder is kept as it is; it is still added
    // and registered below, from its place there.
    files.CopyFileA(sourcePath, destination, true);
    const std::string key = fileName.substr(0, fileName.size() - 4) + kFontKeySuffix;
    fonts.AddFontResourceA(destination);
    fonts.CreateBroadcastThread();
    fonts.WriteProfileStringA(kFontsSection, key, fileName);
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
