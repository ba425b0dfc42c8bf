// kesmar-pack try against a stand-in wine on PATH, no Wine run: a watcher that never says where the temporary folder is, one that ends too soon, one that overruns the limit, and a run stopped by a signal.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

#include "tests/support/pe_image.h"
#include "tests/support/temp_dir.h"
#include "kesmar_pack/try/child_process.h"
#include "kesmar_pack/try/file_tree.h"
#include "kesmar_pack/try/wine/wine_prefix.h"

namespace kesmar::testing {
namespace {

namespace fs = std::filesystem;

// wine and wineserver as try calls them: wineboot makes the files of a prefix,
// --settle ends at once, and the watched run does what KESMAR_STAND_IN says.
// Each call is logged; the watcher's process number is written where the run
// can be signalled.
constexpr char kStandInWine[] = R"sh(#!/bin/sh
echo "wine $*" >>"$KESMAR_STAND_IN_LOG"
case "$1" in
  --version) echo "wine-8.0 (stand-in)"; exit 0 ;;
  wineboot)
    mkdir -p "$WINEPREFIX/drive_c/users/me/Temp" "$WINEPREFIX/dosdevices"
    ln -s ../drive_c "$WINEPREFIX/dosdevices/c:"
    for hive in system user userdef; do printf 'WINE REGISTRY Version 2\n' >"$WINEPREFIX/$hive.reg"; done
    exit 0 ;;
esac
[ "$2" = --settle ] && exit 0
temp() { printf 'temp\tC:\\users\\me\\Temp\\\n'; read -r go; }
case "$KESMAR_STAND_IN" in
  silent) printf 'stand-in \033]0;title\007 starting\n' >&2; exec sleep 600 ;;
  early) temp; exit 0 ;;
  partial) temp; printf 'start\t40\nexit\t1'; exit 0 ;;
  overrun) temp; printf 'start\t40\n'; exec sleep 600 ;;
  signal) temp; echo $$ >"$KESMAR_STAND_IN_PID"; exec sleep 600 ;;
esac
exit 9
)sh";

constexpr char kStandInServer[] = R"sh(#!/bin/sh
echo "wineserver $*" >>"$KESMAR_STAND_IN_LOG"
)sh";

TEST(TryStandIn, EndsEveryRunAndSaysWhy) {
  TempDir dir;
  const fs::path root = dir.path();
  for (const auto& [name, script] : {std::pair{"bin/wine", kStandInWine}, {"bin/wineserver", kStandInServer}}) {
    dir.Write(name, script);
    fs::permissions(root / name, fs::perms(0755));
  }
  // kesmar-pack finds kesmar-try-watch.exe beside itself.
  fs::create_directories(root / "tool");
  fs::copy_file(KESMAR_PACK_PROGRAM, root / "tool/kesmar-pack");
  dir.Write("tool/kesmar-try-watch.exe", "");
  dir.Write("Setup.exe", PeImage("payload"));
  fs::create_directories(root / "tmp");
  const std::string path = (root / "bin").string() + ":/usr/bin:/bin";
  {
    const std::string old = ::getenv("PATH") != nullptr ? ::getenv("PATH") : "";
    ::setenv("PATH", path.c_str(), 1);
    const std::string missing = WineSetupProblem();
    ::setenv("PATH", old.c_str(), 1);
    if (!missing.empty()) GTEST_SKIP() << missing;
  }

  struct Case {
    const char* mode;
    int timeLimit;
    int signal;          // sent once the watcher runs; 0: none
    std::string reason;  // the first of --json's problems
    double most;         // seconds the run may take
  } cases[] = {
      {"silent", 2, 0,
       "kesmar-try-watch.exe did not say where the temporary folder is within the time limit; Wine said: stand-in "
       "\\\\x1B]0;title\\\\x07 starting", 2 + 5},
      {"early", 20, 0, "kesmar-try-watch.exe ended before the run did", 10},
      {"partial", 20, 0, "kesmar-try-watch.exe ended in the middle of a line: \\\"exit\\\\x091\\\"", 10},
      {"overrun", 1, 0, "Wine did not end the run within 15 s of the time limit", 1 + 15 + 5},
      {"signal", 60, SIGINT, "stopped by a signal", 10},
      {"signal", 60, SIGTERM, "stopped by a signal", 10},
  };
  for (const Case& c : cases) {
    const std::string what = std::string(c.mode) + " " + std::to_string(c.signal);
    const std::string log = (root / "log").string(), pid = (root / "pid").string(), json = (root / "r.json").string();
    for (const std::string& file : {log, pid, json}) fs::remove(file);
    ChildOptions options;
    // Outside the sandbox, for the stand-in to log where the test can read it
    // (the sandbox's own runs are in try_sandbox_test.cpp).
    options.argv = {(root / "tool/kesmar-pack").string(), "try", (root / "Setup.exe").string(), "--timeout",
                    std::to_string(c.timeLimit), "--json", json, "--no-sandbox"};
    options.environment = {"PATH=" + path, "HOME=" + root.string(), "TMPDIR=" + (root / "tmp").string(),
                           "XDG_CACHE_HOME=" + (root / "cache").string(), std::string("KESMAR_STAND_IN=") + c.mode,
                           "KESMAR_STAND_IN_LOG=" + log, "KESMAR_STAND_IN_PID=" + pid};
    options.pipeOutput = options.pipeErrors = true;
    ChildProcess run;
    std::string problem;
    ASSERT_TRUE(run.Start(options, &problem)) << problem;
    const auto start = TryClock::now();
    int status = 0;
    std::string watcher;
    while (!run.Ended(&status) && TryClock::now() - start < std::chrono::seconds(60)) {
      if (c.signal != 0 && watcher.empty() && ReadWholeFile(pid, &watcher) && !watcher.empty()) {
        ::kill(run.pid(), c.signal);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const double seconds = std::chrono::duration<double>(TryClock::now() - start).count();
    ASSERT_TRUE(run.Ended(&status)) << what;
    if (c.signal != 0) {
      // The signal is raised again once the run is ended and cleared away.
      EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == c.signal) << what << ": status " << status;
      ASSERT_FALSE(watcher.empty()) << what;
      EXPECT_NE(::kill(std::stoi(watcher), 0), 0) << what << ": the stand-in watcher still runs";
    } else {
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << what << ": status " << status;
    }
    EXPECT_LT(seconds, c.most) << what;
    std::string record, calls;
    ASSERT_TRUE(ReadWholeFile(json, &record)) << what;
    EXPECT_NE(record.find("\"problems\": [\"" + c.reason + "\""), std::string::npos) << what << "\n" << record;
    ReadWholeFile(log, &calls);
    EXPECT_NE(calls.find("wineserver -k"), std::string::npos) << what << ": Wine was not ended\n" << calls;
    EXPECT_TRUE(fs::is_empty(root / "tmp")) << what << ": the run's folder is left";
  }
}

}  // namespace
}  // namespace kesmar::testing
