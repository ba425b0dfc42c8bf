// kesmar-pack's packing of a folder, for pack, launcher and the bare run.
#pragma once

#include <ostream>
#include <string>

#include "kesmar_pack/commands/code_page.h"

namespace kesmar {

constexpr int kToolOk = 0;
constexpr int kToolFailed = 1;
constexpr int kToolUsage = 2;

struct PackJob {
  std::string folder;
  std::string output;        // the container file written
  std::string ownOutput;     // the file the user asked for; it and its temporary files are never packed
  bool summary = false;      // say on `out` what was written
  bool forLauncher = false;  // refuse, before compressing, a payload the launcher could not run
  bool warnLongNames = false;  // name the files whose paths would be too long where a launcher extracts
};

// Packs the files directly inside `job.folder` into `job.output`, names in
// `codePage`. Refusals are one line on `err`; skipped entries a warning line
// each. Returns the exit code.
int PackFolder(const PackJob& job, const CodePage& codePage, std::ostream& out, std::ostream& err,
               bool showProgress);

}  // namespace kesmar
