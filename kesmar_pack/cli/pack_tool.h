// kesmar-pack's command line: launcher, pack, list, verify, extract, and the bare run.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "kesmar_pack/commands/pack_command.h"

namespace kesmar {

// Runs kesmar-pack with `args` (the program name left out). Results and help
// go to `out`; messages, one line per failure, go to `err`, and so does the
// progress line when `showProgress` is set (stderr is a terminal). Returns
// the exit code: 0 done, 1 failed, 2 bad usage. Installs the handlers that
// delete temporary files on SIGINT, SIGTERM, SIGHUP and SIGQUIT.
int RunKesmarPack(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                  bool showProgress);

}  // namespace kesmar
