// The pass over the extracted files: installs the TrueType fonts and picks the setup program.
#pragma once

#include <string>
#include <vector>

#include "launcher/cleanup_list.h"
#include "platform/platform.h"

namespace kesmar {

constexpr char kSetupProgramName[] = "KesmarSetup.exe";
constexpr char kFontsSection[] = "fonts";
constexpr char kFontKeySuffix[] = " (True Type)";
// Below the local application data folder.
constexpr char kUserFontsSubfolder[] = "Microsoft\\Windows\\Fonts";
// Below HKEY_CURRENT_USER.
constexpr char kUserFontsKey[] = "Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts";

// Walks the extracted files from the last written to the first. Entry n of
// `extractedNames` is the record name of the file at list.FileAt(n). A name
// whose extension is "ttf" in any ASCII letter case is installed with
// InstallFont (which deletes the extracted copy); the file named exactly
// "KesmarSetup.exe" sets *setupPath, when given, to its full path. Every other
// file is left alone. Uses platform.files and platform.fonts; never changes
// the list.
void ProcessExtractedFiles(const Platform& platform, const std::vector<std::string>& extractedNames,
                           const CleanupList& list, std::string* setupPath);

// Copies the font at `sourcePath` into the Fonts folder as `fileName` (never
// over an existing file), adds it to the font table from there, starts a
// font-change broadcast, registers it under "fonts" as "<name less its last 4
// characters> (True Type)" = `fileName`, and deletes `sourcePath`. Results of
// these calls are not examined, but for the copy: when it fails and no file
// of that name is in the Fonts folder (a standard user may not write there),
// the font is installed for the current user instead: copied into
// <local application data>\Microsoft\Windows\Fonts, added from there, a
// broadcast started, and registered under HKCU's kUserFontsKey with its full
// path; a step of that path that fails ends it. `fontsFolder` caches the
// Fonts folder for one pass: looked up while empty; when the lookup fails
// the font is not installed, but the extracted copy is still deleted.
void InstallFont(const Platform& platform, const std::string& sourcePath,
                 const std::string& fileName, std::string& fontsFolder);

// The path of the Fonts folder; empty when the shell cannot tell it.
std::string GetFontsFolder(FontApi& fonts);

}  // namespace kesmar
