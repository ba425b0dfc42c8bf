// RunTool: RunKesmarPack in this process, or kesmar-pack.exe in a child process under Wine.
#include "tests/support/tool_runner.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/personality.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
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

// A wedged Wine must fail its row, not hold the whole suite.
constexpr int kWineTimeLimitSeconds = 120;

ToolRun HarnessFailure(const std::string& what) {
  return {-1, "", "test harness: " + what + " (" + std::strerror(errno) + ")\n"};
}

// Wine's own words go to the files too; it says none once its prefix is made.
ToolRun RunUnderWine(const std::string& exe, const std::vector<std::string>& args) {
  char outPath[] = "/tmp/kesmar-tool-out-XXXXXX";
  char errPath[] = "/tmp/kesmar-tool-err-XXXXXX";
  const int outFd = ::mkstemp(outPath);
  if (outFd < 0) return HarnessFailure("cannot create a file for stdout");
  const int errFd = ::mkstemp(errPath);
  if (errFd < 0) {
    const ToolRun failed = HarnessFailure("cannot create a file for stderr");
    ::close(outFd);
    ::unlink(outPath);
    return failed;
  }
  const auto removeFiles = [&] {
    ::close(outFd);
    ::close(errFd);
    ::unlink(outPath);
    ::unlink(errPath);
  };
  std::vector<char*> argv = {const_cast<char*>("wine"), const_cast<char*>(exe.c_str())};
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  const pid_t child = ::fork();
  if (child < 0) {
    const ToolRun failed = HarnessFailure("cannot fork");
    removeFiles();
    return failed;
  }
  if (child == 0) {
    // A group of its own, so that a time limit ends Wine's loader and what it started.
    ::setpgid(0, 0);
    // Debian's 64-bit Wine has no preloader to hold its fixed addresses: its
    // loader sits at 0x7d000000, and the heap the kernel starts at a random
    // point up to 1 GiB above it now and then covers the page Wine needs at
    // 0x7ffe0000. That start fails, silently under WINEDEBUG=-all, with exit
    // code 1 ("failed to map the shared user data"). Without randomization the
    // heap starts right after the loader, far below it, every time.
    ::personality(ADDR_NO_RANDOMIZE);
    ::dup2(outFd, STDOUT_FILENO);
    ::dup2(errFd, STDERR_FILENO);
    ::unsetenv("DISPLAY");
    ::execvp("wine", argv.data());
    ::_exit(127);
  }
  int status = -1;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kWineTimeLimitSeconds);
  pid_t ended = 0;
  while ((ended = ::waitpid(child, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < deadline) {
    ::usleep(20000);
  }
  if (ended == 0) {
    ::kill(-child, SIGKILL);
    ::waitpid(child, &status, 0);
    removeFiles();
    return {-1, "", "test harness: kesmar-pack.exe did not end within " + std::to_string(kWineTimeLimitSeconds) +
                        " s and was killed\n"};
  }
  ToolRun run{WIFEXITED(status) ? WEXITSTATUS(status) : 128, ReadAll(outPath), ReadAll(errPath)};
  removeFiles();
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
