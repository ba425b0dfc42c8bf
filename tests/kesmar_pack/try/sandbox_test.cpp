// try's sandbox: bubblewrap's policy as text, the run's named environment, a removal that a swapped link cannot lead outside, stale run folders, the screen's cookie (real sandboxes: try_sandbox_test.cpp).
#include <gtest/gtest.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "tests/support/temp_dir.h"
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

// A Wine the caller's PATH finds in a folder the plan hides or covers with
// the run's /tmp is shown there, read-only, that folder alone, once.
TEST(SandboxPolicy, ShowsTheFolderOfAWineItWouldHide) {
  SandboxPlan plan;
  plan.hidden = {"/home", "/srv/me"};
  plan.readOnly = {"/w/files"};
  ShowProgramFolders({"/usr/bin/wine", "/home/me/wine/bin/wine", "/home/me/wine/bin/wineserver",
                      "/tmp/ci/build/stand-in/wine", "/srv/mine/wine", ""},
                     &plan);
  EXPECT_EQ(plan.readOnly, (Args{"/w/files", "/home/me/wine/bin", "/tmp/ci/build/stand-in"}));
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

}  // namespace
}  // namespace kesmar::testing
