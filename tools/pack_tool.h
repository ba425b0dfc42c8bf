// kesmar-pack's commands: pack, list, verify, extract, and their arguments.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace kesmar {

constexpr int kToolOk = 0;
constexpr int kToolFailed = 1;
constexpr int kToolUsage = 2;

// Runs kesmar-pack with `args` (the program name left out). Results go to
// `out`; messages, one line per failure, go to `err`, and so does the
// progress line when `showProgress` is set (stderr is a terminal). Returns
// the exit code: 0 done, 1 failed, 2 bad usage.
// Packs the files directly inside `folder` into `output` in `codePage`; with
// `summary`, says on `out` what was written. Returns the exit code.
class CodePage;
int PackFolder(const std::string& folder, const std::string& output, const CodePage& codePage, bool summary,
               std::ostream& out, std::ostream& err, bool showProgress);

int RunKesmarPack(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                  bool showProgress);

}  // namespace kesmar
