// ExtractPayload: the embedded payload written out as files in a fresh folder under the temporary folder.
#pragma once

#include <cstdint>
#include <string>

#include "launcher/cleanup_list.h"
#include "platform/platform.h"

namespace kesmar {

constexpr int kPayloadResourceId = 130;
constexpr char kPayloadResourceType[] = "RAW";
constexpr char kExtractionFolderPrefix[] = "kesmars";
constexpr int kMaxFolderCreationFailures = 10;

// Finds resource "RAW" #130, decodes it and checks the whole record stream,
// creates the first free folder "kesmars<n>" in the temporary folder (with
// the DACL of ExtractionFolderDescriptor), writes
// every record there as a file and finally runs ProcessExtractedFiles over
// them. `list` must be empty on entry. Uses platform.resources,
// platform.files, platform.security and platform.fonts.
//
// False, with nothing created, the list and both outputs untouched, when the
// payload is missing, cannot be decoded or is malformed (see
// CheckRecordStream), when there is no temporary folder path that the ANSI
// calls can use, when the folder's descriptor cannot be built, or when ten
// folder creations failed.
//
// Once the folder exists it is in the list (and in *workFolder), and each file
// is listed before its data is written. The first record whose file cannot be
// opened, written in full or closed ends the call with false; what was created
// up to then stays listed, so that removing the list removes it. A later
// record of the same name as an earlier one replaces that file, and its path
// is then listed twice.
//
// True when every record was written; *setupPath is then the path of
// "KesmarSetup.exe" when the payload holds one, and is left as it was
// otherwise. Either output may be null.
bool ExtractPayload(const Platform& platform, std::string* setupPath, std::string* workFolder,
                    CleanupList& list);

// The number the next folder search starts at. It lives as long as the
// process and the launcher never resets it; a run makes one search.
int32_t FolderCounter();
// Back to 0, so that each test starts from a known number.
void ResetFolderCounter();

}  // namespace kesmar
