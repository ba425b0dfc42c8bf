// The command line and the terminal on Linux: arguments and output are UTF-8 bytes already.
#include <unistd.h>

#include "platform/host_console.h"

namespace kesmar {

const char kHostSystem[] = "Linux";
const bool kHostSplitsCommandLine = false;

std::vector<std::string> HostArguments(int argc, char** argv) {
  return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

bool StderrIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

void UseConsoleText() {}

}  // namespace kesmar
