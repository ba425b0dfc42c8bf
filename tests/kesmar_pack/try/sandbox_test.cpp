// try's sandbox: bubblewrap's policy as text, the run's named environment, a removal that a swapped link cannot lead outside, stale run folders, the screen's cookie, and real sandboxes that keep the host out of reach.
#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <thread>

#include "tests/support/temp_dir.h"
#include "kesmar_pack/try/child_process.h"
#include "kesmar_pack/try/file_tree.h"
#include "kesmar_pack/try/sandbox.h"
#include "kesmar_pack/try/screen/virtual_screen.h"
#include "kesmar_pack/try/work_folder.h"

namespace kesmar::testing {
namespace {

namespace fs = std::filesystem;

using Args = std::vector<std::string>;

TEST(SandboxPolicy, IsOneListOfBubblewrapArguments) {
  const Args head = {"bwrap", "--unshare-user", "--unshare-pid", "--unshare-ipc", "--unshare-uts",
                     "--unshare-cgroup-try"};
  const Args confined = {"--die-with-parent", "--new-session", "--cap-drop", "ALL", "--ro-bind", "/", "/",
                         "--dev", "/dev", "--proc", "/proc"};
  SandboxPlan plan;
  plan.tmp = "/tmp/kesmar-try-a/tmp";
  plan.hidden = {"/home", "/root", "/tmp", "/run"};
  plan.writable = {"/tmp/kesmar-try-a/prefix", "/tmp/kesmar-try-a/home"};
  plan.readOnly = {"/tmp/kesmar-try-a/files"};
  plan.folder = "/tmp/kesmar-try-a/home";
  plan.infoFd = 4;
  plan.environment = {"PATH=/usr/bin:/bin", "WINEDEBUG=-all", "NOVALUE", "=empty", "LANG=C.UTF-8"};
  SandboxPlan open = plan;
  open.network = true;
  const Args tail = {"--tmpfs", "/home", "--tmpfs", "/root", "--tmpfs", "/run",
                     "--bind", "/tmp/kesmar-try-a/tmp", "/tmp",
                     "--bind", "/tmp/kesmar-try-a/prefix", "/tmp/kesmar-try-a/prefix",
                     "--bind", "/tmp/kesmar-try-a/home", "/tmp/kesmar-try-a/home",
                     "--ro-bind", "/tmp/kesmar-try-a/files", "/tmp/kesmar-try-a/files",
                     "--chdir", "/tmp/kesmar-try-a/home",
                     "--clearenv", "--setenv", "PATH", "/usr/bin:/bin", "--setenv", "WINEDEBUG", "-all",
                     "--setenv", "LANG", "C.UTF-8", "--info-fd", "4", "--"};
  struct Case {
    const char* what;
    const SandboxPlan& plan;
    Args expected;
  } cases[] = {
      {"no network", plan, {}},
      {"--network", open, {}},
  };
  cases[0].expected = head;
  cases[0].expected.push_back("--unshare-net");
  cases[1].expected = head;
  for (Case& c : cases) {
    c.expected.insert(c.expected.end(), confined.begin(), confined.end());
    c.expected.insert(c.expected.end(), tail.begin(), tail.end());
    EXPECT_EQ(SandboxArguments(c.plan), c.expected) << c.what;
  }
}

TEST(SandboxPolicy, HidesTheCallersFoldersThatExistOnce) {
  TempDir dir;
  const std::string home = (dir.path() / "me").string(), cache = (dir.path() / "me/.cache").string();
  fs::create_directories(cache);
  const std::string old = ::getenv("HOME") != nullptr ? ::getenv("HOME") : "";
  ::setenv("HOME", home.c_str(), 1);
  ::setenv("XDG_CACHE_HOME", cache.c_str(), 1);
  ::setenv("XDG_RUNTIME_DIR", (dir.path() / "not-there").c_str(), 1);
  const Args hidden = HiddenFolders();
  ::setenv("HOME", old.c_str(), 1);
  ::unsetenv("XDG_CACHE_HOME");
  ::unsetenv("XDG_RUNTIME_DIR");
  EXPECT_EQ(std::count(hidden.begin(), hidden.end(), home), 1);
  EXPECT_EQ(std::count(hidden.begin(), hidden.end(), cache), 0) << "under the home, hidden with it";
  EXPECT_EQ(std::count(hidden.begin(), hidden.end(), (dir.path() / "not-there").string()), 0);
  EXPECT_EQ(std::count(hidden.begin(), hidden.end(), "/root"), fs::is_directory("/root") ? 1 : 0);
}

TEST(SandboxPolicy, PassesOnlyNamedVariables) {
  const Args caller = {"PATH=/usr/bin", "HOME=/home/me", "CI_DEPLOY_TOKEN=s3cret", "LD_PRELOAD=/x.so",
                       "LC_ALL=C", "WINEDEBUG=+file", "SSH_AUTH_SOCK=/run/agent", "DISPLAY=:0",
                       "WINEPREFIX=/home/me/.wine", "PATHOLOGICAL=1", "TZ=UTC", "LANG"};
  EXPECT_EQ(NamedEnvironment(caller, {"WINEPREFIX=/w/prefix", "HOME=/w/home"}),
            (Args{"PATH=/usr/bin", "LC_ALL=C", "WINEDEBUG=+file", "TZ=UTC", "WINEPREFIX=/w/prefix", "HOME=/w/home"}));
}

TEST(SandboxPolicy, ScreenCookieIsAnXauthorityEntry) {
  const std::string cookie(16, '\x5a');
  const std::string expected = std::string("\xff\xff\x00\x00\x00\x01" "7\x00\x12", 9) + "MIT-MAGIC-COOKIE-1" +
                               std::string("\x00\x10", 2) + cookie;
  EXPECT_EQ(XauthorityEntry("7", cookie), expected);
}

// A tree of `count` files in `folder`, some in subfolders.
void Fill(const fs::path& folder, int count) {
  for (int i = 0; i < count; ++i) {
    const fs::path file = folder / ("d" + std::to_string(i % 7)) / ("f" + std::to_string(i));
    fs::create_directories(file.parent_path());
    std::ofstream(file) << i;
  }
}

size_t CountFiles(const fs::path& folder) {
  size_t files = 0;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) files += entry.is_regular_file() ? 1 : 0;
  return files;
}

TEST(SafeRemoval, AFolderSwappedForALinkMidWalkLeadsNowhere) {
  struct Case {
    const char* what;
    bool toFile;   // the link leads to a file outside, not a folder
    bool locked;   // the swapped folder could not be read before
  } cases[] = {{"link to a folder", false, false}, {"link to a file", true, false}, {"unreadable", false, true}};
  for (const Case& c : cases) {
    TempDir dir;
    const fs::path outside = dir.path() / "outside", prefix = dir.path() / "prefix";
    Fill(outside, 200);
    Fill(prefix / "drive_c", 300);
    if (c.locked) ::chmod((prefix / "drive_c/d3").c_str(), 0);
    int swapped = 0;
    const auto swap = [&](const std::string& path) {
      if (fs::path(path).filename() != "d3") return;
      // What a process of the run does between the look and the removal.
      fs::rename(path, dir.path() / ("moved" + std::to_string(swapped++)));
      if (c.toFile) {
        fs::create_symlink(outside / "d1/f1", path);
      } else {
        fs::create_directory_symlink(outside, path);
      }
    };
    std::string problem;
    EXPECT_TRUE(RemoveTreeWatched(prefix.string(), swap, &problem)) << c.what << ": " << problem;
    EXPECT_EQ(swapped, 1) << c.what;
    EXPECT_FALSE(fs::exists(fs::symlink_status(prefix))) << c.what;
    EXPECT_EQ(CountFiles(outside), 200u) << c.what;
    if (c.locked) ::chmod((dir.path() / "moved0").c_str(), 0700);
  }
}

TEST(SafeRemoval, RemovesAWholePrefixAndRefusesTheRoot) {
  TempDir dir;
  Fill(dir.path() / "prefix", 50);
  fs::create_directory_symlink("/", dir.path() / "prefix/z:");
  ::chmod((dir.path() / "prefix/d2").c_str(), 0500);
  std::string problem;
  EXPECT_TRUE(RemoveTree((dir.path() / "prefix").string(), &problem)) << problem;
  EXPECT_FALSE(fs::exists(dir.path() / "prefix"));
  EXPECT_TRUE(RemoveTree((dir.path() / "not-there").string(), &problem));
  EXPECT_FALSE(RemoveTree("/", &problem));
  EXPECT_FALSE(RemoveTree((dir.path() / "..").string(), &problem));
}

TEST(WorkFolders, OnlyThoseOfRunsThatDiedAreRemoved) {
  TempDir dir;
  const fs::path root = dir.path();
  struct Case {
    const char* name;
    bool lockFile, held, kept, link;
    bool removed;
  } cases[] = {
      {"kesmar-try-aaaaaa", true, false, false, false, true},    // its try died
      {"kesmar-try-bbbbbb", true, true, false, false, false},    // a run that lives
      {"kesmar-try-cccccc", true, false, true, false, false},    // kept: Wine did not stop
      {"kesmar-try-dddddd", false, false, false, false, false},  // being made
      {"kesmar-try-eeeeee", true, false, false, true, false},    // a link to a folder
      {"kesmar-try-ffffff-x", true, false, false, false, false},  // not a run's name
      {"other-aaaaaa", true, false, false, false, false},
  };
  std::vector<int> held;
  fs::create_directories(root / "elsewhere");
  std::ofstream(root / "elsewhere/lock");
  std::ofstream(root / "elsewhere/precious");
  for (const Case& c : cases) {
    if (c.link) {
      fs::create_directory_symlink(root / "elsewhere", root / c.name);
      continue;
    }
    fs::create_directories(root / c.name / "prefix/drive_c");
    if (c.lockFile) std::ofstream(root / c.name / "lock");
    if (c.kept) std::ofstream(root / c.name / "kept");
    if (c.held) {
      held.push_back(::open((root / c.name / "lock").c_str(), O_RDONLY | O_CLOEXEC));
      ASSERT_EQ(::flock(held.back(), LOCK_EX), 0);
    }
  }
  EXPECT_EQ(RemoveStaleWorkFolders(root.string()), 1);
  for (const Case& c : cases) EXPECT_EQ(!fs::exists(fs::symlink_status(root / c.name)), c.removed) << c.name;
  EXPECT_TRUE(fs::exists(root / "elsewhere/precious"));
  for (int fd : held) ::close(fd);
}

TEST(WorkFolders, HoldItsLockAndGoWithTheRunUnlessKept) {
  TempDir dir;
  const std::string old = ::getenv("TMPDIR") != nullptr ? ::getenv("TMPDIR") : "";
  ::setenv("TMPDIR", dir.path().c_str(), 1);
  std::string first, second, problem;
  {
    WorkFolder work, kept;
    ASSERT_TRUE(work.Make(&problem)) << problem;
    ASSERT_TRUE(kept.Make(&problem)) << problem;
    first = work.path();
    second = kept.path();
    kept.Keep();
    EXPECT_TRUE(fs::is_directory(first + "/tmp") && fs::is_directory(first + "/files"));
    EXPECT_EQ(RemoveStaleWorkFolders(dir.path().string()), 0);
  }
  ::setenv("TMPDIR", old.c_str(), 1);
  if (old.empty()) ::unsetenv("TMPDIR");
  EXPECT_FALSE(fs::exists(first));
  EXPECT_TRUE(fs::exists(second));
  EXPECT_EQ(RemoveStaleWorkFolders(dir.path().string()), 0);
}

// A plan as try makes one, around a folder of the test's.
SandboxPlan PlanIn(const fs::path& work) {
  fs::create_directories(work / "tmp");
  fs::create_directories(work / "prefix");
  SandboxPlan plan;
  plan.tmp = (work / "tmp").string();
  plan.writable = {(work / "prefix").string()};
  plan.hidden = HiddenFolders();
  plan.folder = (work / "prefix").string();
  return plan;
}

// Runs `script` with sh in `plan`'s sandbox; its output.
std::string InSandbox(const SandboxPlan& plan, const std::string& script, const Args& environment, int* status) {
  ChildOptions options;
  options.argv = {"/bin/sh", "-c", script};
  options.environment = environment;
  options.sandbox = &plan;
  std::string output, problem;
  EXPECT_TRUE(RunToEnd(options, TryClock::now() + std::chrono::seconds(30), status, &output, &problem)) << problem;
  return output;
}

class RealSandbox : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string problem = SandboxProblem();
    if (!problem.empty()) GTEST_SKIP() << problem;
  }
};

TEST_F(RealSandbox, KeepsTheHostOutOfReach) {
  TempDir dir;
  const fs::path host = dir.path() / "host";
  fs::create_directories(host);
  std::ofstream(host / "visible") << "on the host";
  const SandboxPlan plan = PlanIn(dir.path() / "work");
  // A listener on the host's loopback that the run must not reach.
  const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(listener, 4), 0);
  ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
  const std::string port = std::to_string(ntohs(address.sin_port));
  ::setenv("KESMAR_TEST_SECRET", "s3cret", 1);
  const std::string hostFile = (host / "written").string();

  struct Case {
    const char* what;
    std::string script;
    std::string expected;  // its output inside the sandbox
  } cases[] = {
      {"a host folder written", "(echo x >" + hostFile + ") 2>/dev/null && echo wrote || echo refused", "refused\n"},
      {"the host's /etc written", "(echo x >/etc/kesmar-sandbox-probe) 2>/dev/null && echo wrote || echo refused",
       "refused\n"},
      {"the secret read", "echo \"[${KESMAR_TEST_SECRET}]\"", "[]\n"},
      {"the host's loopback", "python3 -c 'import socket; socket.create_connection((\"127.0.0.1\", " + port +
                                  "), 2)' 2>/dev/null && echo connected || echo refused",
       "refused\n"},
      {"the caller's home", "ls -A \"$CALLER_HOME\" | head -1", ""},
      {"the host's /tmp", "ls -A " + host.string() + " 2>/dev/null | head -1", ""},
      {"its own prefix written", "echo x >" + (dir.path() / "work/prefix/f").string() + " && echo wrote", "wrote\n"},
  };
  const char* home = ::getenv("HOME");
  for (const Case& c : cases) {
    int status = 0;
    const std::string output =
        InSandbox(plan, c.script, NamedEnvironment({std::string("KESMAR_TEST_SECRET=s3cret")},
                                                   {"PATH=/usr/bin:/bin", std::string("CALLER_HOME=") + (home ? home : "/root")}),
                  &status);
    EXPECT_EQ(output, c.expected) << c.what;
  }
  ::unsetenv("KESMAR_TEST_SECRET");
  EXPECT_FALSE(fs::exists(hostFile));
  EXPECT_FALSE(fs::exists("/etc/kesmar-sandbox-probe"));
  sockaddr_in peer{};
  length = sizeof peer;
  ::fcntl(listener, F_SETFL, O_NONBLOCK);
  EXPECT_LT(::accept(listener, reinterpret_cast<sockaddr*>(&peer), &length), 0) << "a connection came in";
  ::close(listener);
}

TEST_F(RealSandbox, NothingOutlivesItsKilledParent) {
  TempDir dir;
  const SandboxPlan plan = PlanIn(dir.path() / "work");
  int report[2];
  ASSERT_EQ(::pipe(report), 0);
  // A stand-in for try starts the sandbox, says its PID namespace, and is killed with SIGKILL.
  const pid_t parent = ::fork();
  if (parent == 0) {
    ChildOptions options;
    // One in a session of its own, one in the background, one waiting.
    options.argv = {"/bin/sh", "-c", "setsid sleep 600 & sleep 600 & exec sleep 600"};
    options.environment = {"PATH=/usr/bin:/bin"};
    options.sandbox = &plan;
    options.pipeInfo = true;
    ChildProcess child;
    std::string problem, info;
    if (!child.Start(options, &problem)) ::_exit(2);
    for (int i = 0; i < 500 && PidNamespaceOf(info) == 0 && ReadAvailable(child.info(), &info); ++i) ::usleep(10000);
    const uint64_t ns = PidNamespaceOf(info);
    if (::write(report[1], &ns, sizeof ns) != sizeof ns) ::_exit(3);
    for (;;) ::pause();
  }
  ::close(report[1]);
  uint64_t ns = 0;
  ASSERT_EQ(::read(report[0], &ns, sizeof ns), ssize_t(sizeof ns));
  ::close(report[0]);
  ASSERT_NE(ns, 0u);
  for (int i = 0; i < 50 && ProcessesIn(ns).size() < 4; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_GE(ProcessesIn(ns).size(), 4u) << "init and three sleeps";
  ::kill(parent, SIGKILL);
  ::waitpid(parent, nullptr, 0);
  for (int i = 0; i < 50 && !ProcessesIn(ns).empty(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(ProcessesIn(ns).size(), 0u) << "processes of the sandbox outlived it";
}

}  // namespace
}  // namespace kesmar::testing
