// RunTool: RunKesmarPack in this process, or kesmar-pack.exe in a child process under Wine.
#include "tests/support/tool_runner.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "kesmar_pack/cli/pack_tool.h"

namespace kesmar::testing {
namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Wine's own words go to the files too; it says none once its prefix is made.
ToolRun RunUnderWine(const std::string& exe, const std::vector<std::string>& args) {
  char outPath[] = "/tmp/kesmar-tool-out-XXXXXX";
  char errPath[] = "/tmp/kesmar-tool-err-XXXXXX";
  const int outFd = ::mkstemp(outPath);
  const int errFd = ::mkstemp(errPath);
  const pid_t child = ::fork();
  if (child == 0) {
    ::dup2(outFd, STDOUT_FILENO);
    ::dup2(errFd, STDERR_FILENO);
    std::vector<char*> argv = {const_cast<char*>("wine"), const_cast<char*>(exe.c_str())};
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    ::unsetenv("DISPLAY");
    ::execvp("wine", argv.data());
    ::_exit(127);
  }
  int status = -1;
  ::waitpid(child, &status, 0);
  ::close(outFd);
  ::close(errFd);
  ToolRun run{WIFEXITED(status) ? WEXITSTATUS(status) : 128, ReadAll(outPath), ReadAll(errPath)};
  ::unlink(outPath);
  ::unlink(errPath);
  return run;
}

const char* WindowsTool() {
  const char* exe = std::getenv("KESMAR_PACK_EXE");
  return exe != nullptr && *exe != '\0' ? exe : nullptr;
}

}  // namespace

bool RunsWindowsTool() { return WindowsTool() != nullptr; }

ToolRun RunTool(const std::vector<std::string>& args) {
  if (const char* exe = WindowsTool()) {
    // The first start makes Wine's prefix and says so.
    static const bool warm = (RunUnderWine(exe, {"--version"}), true);
    (void)warm;
    return RunUnderWine(exe, args);
  }
  std::ostringstream out, err;
  const int code = RunKesmarPack(args, out, err, /*showProgress=*/false);
  return {code, out.str(), err.str()};
}

}  // namespace kesmar::testing
