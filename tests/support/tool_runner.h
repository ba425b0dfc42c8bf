// kesmar-pack as the tests run it: in this process, or as kesmar-pack.exe under Wine.
#pragma once

#include <string>
#include <vector>

namespace kesmar::testing {

struct ToolRun {
  int code;
  std::string out;
  std::string err;
};

// Runs kesmar-pack with `args`, without a progress line. When the
// environment names kesmar-pack.exe in KESMAR_PACK_EXE, the run is that
// program's, under Wine, in the current folder; otherwise RunKesmarPack's in
// this process.
ToolRun RunTool(const std::vector<std::string>& args);

// True when RunTool runs kesmar-pack.exe. Rows that need what only Linux has
// (a FIFO, a name Windows cannot hold, a signal) are left out then.
bool RunsWindowsTool();

}  // namespace kesmar::testing
