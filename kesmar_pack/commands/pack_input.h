// What kesmar-pack lets the builder see of an input folder, and the check of where it writes.
#pragma once

#include <functional>
#include <memory>
#include <ostream>
#include <string>

#include "platform/file_system.h"
#include "platform/host_files.h"

namespace kesmar {

// Why no file can be written at `output`, as a phrase; empty when one can.
// Checked before any packing: the folder it goes into exists and may be
// written, and `output` names no folder, nor anything else that is not a
// regular file (the final rename would replace a device or a pipe). When
// the files of `packedFolder` are to be packed, `output` names none of them
// either, compared as the system does (on Windows, letter case and short
// names alike); an earlier launcher or container of this tool's there is
// the one file it may replace, as it is never packed.
std::string OutputPathProblem(const std::string& output, const std::string& packedFolder = "");
// The same, said on `err` as "<output>: <problem>"; true when there was one.
bool ReportOutputPathProblem(const std::string& output, std::ostream& err, const std::string& packedFolder = "");

// Told, once for each, of an entry of the input folder that is not packed
// although the folder holds it: the entry's name and why.
using SkippedEntry = std::function<void(const std::string& name, const std::string& why)>;

// The host's file system, as the builder sees it when kesmar-pack packs:
// - when the input folder is the folder of `ownOutput`, the file `ownOutput`
//   and the temporary files kesmar-pack makes beside it (".tmp-XXXXXX",
//   ".payload-XXXXXX" and that with ".tmp-XXXXXX") are not listed: a run
//   never packs what this or an earlier run wrote;
// - a subfolder, or an entry that cannot be looked at (a link to nothing,
//   say), goes to `skipped`;
// - a file created through it (CreateNewFileA) counts as temporary until it
//   is renamed into place or deleted, so that an interrupt deletes it.
// `files` is the file system it looks through: the host's, but for tests.
std::unique_ptr<FileSystem> CreatePackInputFileSystem(const std::string& ownOutput, SkippedEntry skipped,
                                                      std::unique_ptr<FileSystem> files = CreateHostFileSystem());

}  // namespace kesmar
