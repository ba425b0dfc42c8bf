// kesmar-pack's list, verify and extract: looking into a container or a launcher.
#pragma once

#include <ostream>
#include <string>

#include "kesmar_pack/commands/code_page.h"

namespace kesmar {

// Each returns an exit code: 0 done, 1 failed, with one line on `err` saying
// why. Record names are read in `codePage` and shown and written in UTF-8.

// Prints name, size and offset of every record, then the totals and the ratio.
int ListPayload(const std::string& path, const CodePage& codePage, std::ostream& out, std::ostream& err);
// Decodes and checks every record; one line on `out` (sound) or `err` (why not).
int VerifyPayload(const std::string& path, const CodePage& codePage, std::ostream& out, std::ostream& err);
// Writes the records as files into `folder`, which must be new or empty. The
// stream, names included, is checked whole before the first file is written.
int ExtractPayloadFile(const std::string& path, const std::string& folder, const CodePage& codePage,
                       std::ostream& out, std::ostream& err, bool showProgress);

}  // namespace kesmar
