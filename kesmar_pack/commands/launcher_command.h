// kesmar-pack launcher: a folder or a payload container, written into the launcher stub.
#pragma once

#include <ostream>
#include <string>

#include "kesmar_pack/commands/code_page.h"

namespace kesmar {

struct LauncherRequest {
  std::string folder;       // pack this folder, or
  std::string payloadFile;  // embed this container unchanged
  std::string output;
  std::string stub;         // empty: the stub installed beside kesmar-pack
  bool force = false;       // write it even when the payload does not verify or could never run
};

// Makes the launcher; returns the exit code (0 done, 1 failed) after one
// line on `out` (what was written) or `err` (why not). `argv0Path` is the
// path of the running kesmar-pack, from which the stub is found.
int MakeLauncher(const LauncherRequest& request, const CodePage& codePage, std::ostream& out,
                 std::ostream& err, bool showProgress);

// The stub that goes with this kesmar-pack: the first of
// <its folder>/../lib/kesmar-pack/KesmarSetupWin-stub.exe (installed or unpacked),
// <its folder>/KesmarSetupWin-stub.exe, and <its folder>/../win32/KesmarSetupWin-stub.exe
// (the build tree) that exists. Empty, with the places looked at in
// `looked`, when there is none.
std::string FindLauncherStub(std::string* looked);

}  // namespace kesmar
