// Folders that the ANSI calls can name, also where their real names lie outside the ANSI code page.
#pragma once

#include <string>

#include "platform/file_system.h"

namespace kesmar {

// The path of an existing folder, known as `ansi` from an ANSI call and as
// `wide` from the wide one, in a form the ANSI calls accept: `ansi` itself
// when it reads back as `wide`; otherwise the short (8.3) form of `wide`,
// when that has an exact ANSI form. False when neither names the folder.
bool AnsiPathOf(FileSystem& files, const std::string& ansi, const std::wstring& wide,
                std::string* usable);

// The temporary folder (GetTempPathA, then GetTempPathW to check it), ending
// in a separator, as AnsiPathOf gives it; false when there is none that
// fits in kMaxPath characters.
bool GetTempFolderA(FileSystem& files, std::string* path);

}  // namespace kesmar
