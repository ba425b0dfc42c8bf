// try's POSIX half on the real host: trees copied and removed without following links, the temporary folder watched, children ended with their groups, paths into a prefix.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <thread>

#include "tests/support/temp_dir.h"
#include "kesmar_pack/try/child_process.h"
#include "kesmar_pack/try/file_tree.h"
#include "kesmar_pack/try/temp_watch.h"
#include "kesmar_pack/try/wine/wine_prefix.h"

namespace kesmar::testing {
namespace {

namespace fs = std::filesystem;

TEST(FileTree, CopiesAndRemovesAPrefixWithoutFollowingItsLinks) {
  TempDir dir;
  const fs::path root = dir.path();
  dir.Write("outside/precious.txt", "keep me");
  dir.Write("prefix/drive_c/windows/win.ini", "[fonts]\n");
  dir.Write("prefix/drive_c/locked/file.txt", "x");
  fs::create_directories(root / "prefix/dosdevices");
  fs::create_directory_symlink("../drive_c", root / "prefix/dosdevices/c:");
  fs::create_directory_symlink(root / "outside", root / "prefix/dosdevices/z:");
  ::chmod((root / "prefix/drive_c/windows/win.ini").c_str(), 0640);
  // Every original, links and folders too, gets a time long past, each its
  // own, so that a copy stamped with the time of copying differs from it;
  // folders last, deepest first, as their entries change their times.
  std::vector<fs::path> entries;
  for (const auto& entry : fs::recursive_directory_iterator(root / "prefix")) entries.push_back(entry.path());
  std::sort(entries.begin(), entries.end(), [](const fs::path& a, const fs::path& b) {
    const bool aFolder = fs::is_directory(fs::symlink_status(a)), bFolder = fs::is_directory(fs::symlink_status(b));
    if (aFolder != bFolder) return bFolder;
    return std::distance(a.begin(), a.end()) > std::distance(b.begin(), b.end());
  });
  entries.push_back(root / "prefix");
  long second = 1000000000;
  for (const fs::path& entry : entries) {
    const timespec old[2] = {{second, 5}, {second, 5}};
    ASSERT_EQ(::utimensat(AT_FDCWD, entry.c_str(), old, AT_SYMLINK_NOFOLLOW), 0) << entry;
    second += 1000;
  }
  ::chmod((root / "prefix/drive_c/locked").c_str(), 0500);  // a folder that may not be written

  std::string problem;
  ASSERT_TRUE(CopyTree((root / "prefix").string(), (root / "copy").string(), &problem)) << problem;
  FileTree original, copy;
  ASSERT_TRUE(SnapshotFiles((root / "prefix").string(), &original, &problem));
  ASSERT_TRUE(SnapshotFiles((root / "copy").string(), &copy, &problem));
  ASSERT_EQ(copy.size(), original.size());
  for (const auto& entry : original) {
    const FileState& c = copy[entry.first];
    EXPECT_EQ(std::make_tuple(c.type, c.size, c.modified, c.target),
              std::make_tuple(entry.second.type, entry.second.size, entry.second.modified, entry.second.target))
        << entry.first;
  }
  EXPECT_EQ(copy["dosdevices/z:"].type, 'l');  // not the folder it leads to
  EXPECT_EQ(copy.count("dosdevices/z:/precious.txt"), 0u);
  EXPECT_EQ(fs::status(root / "copy/drive_c/windows/win.ini").permissions(), fs::perms(0640));
  EXPECT_TRUE(SameFileContent((root / "prefix/drive_c/windows/win.ini").string(),
                              (root / "copy/drive_c/windows/win.ini").string()));

  for (const char* tree : {"prefix", "copy"}) {
    EXPECT_TRUE(RemoveTree((root / tree).string(), &problem)) << problem;
    EXPECT_FALSE(fs::exists(fs::symlink_status(root / tree)));
  }
  std::ifstream kept(root / "outside/precious.txt");
  std::string text;
  std::getline(kept, text);
  EXPECT_EQ(text, "keep me");
  EXPECT_FALSE(CopyTree((root / "outside").string(), (root / "outside").string(), &problem));
}

TEST(FileTree, WritesAnOutputOnlyWhenWhole) {
  TempDir dir;
  const std::string path = (dir.path() / "try.json").string();
  std::string problem;
  ASSERT_TRUE(WriteOutputFile(path, "{}\n", &problem)) << problem;
  ASSERT_TRUE(WriteOutputFile(path, "{\"a\": 1}\n", &problem)) << problem;
  std::string text;
  ASSERT_TRUE(ReadWholeFile(path, &text));
  EXPECT_EQ(text, "{\"a\": 1}\n");
  EXPECT_FALSE(WriteOutputFile((dir.path() / "none/try.json").string(), "{}", &problem));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

TEST(TempFolderWatch, SeesTheLauncherFolderAndItsFiles) {
  TempDir dir;
  TempFolderWatch watch;
  std::string problem;
  ASSERT_TRUE(watch.Start(dir.path().string(), &problem)) << problem;
  fs::create_directory(dir.path() / "other");
  dir.Write("other/no.txt", "no");
  fs::create_directory(dir.path() / "kesmars3");
  dir.Write("kesmars3/early.txt", "12345");  // before the watch on the folder can take hold
  watch.Read();
  dir.Write("kesmars3/KesmarSetup.exe", std::string(300, 'x'));
  {
    // A font, removed as soon as it is installed: its size is read all the same.
    std::ofstream font(dir.path() / "kesmars3/font.ttf");
    font.flush();
    watch.Read();
    font << "abc";
  }
  fs::remove(dir.path() / "kesmars3/font.ttf");
  dir.Write("kesmars3/gone.txt", "gone");
  fs::remove(dir.path() / "kesmars3/gone.txt");  // too quick to be opened: its name alone
  fs::create_directory(dir.path() / "kesmars4");
  dir.Write("kesmars4/later.txt", "later");
  watch.Read();
  watch.Finish();
  EXPECT_EQ(watch.extractionFolder(), "kesmars3");
  std::vector<std::string> seen;
  for (const ExtractedFile& file : watch.files()) seen.push_back(file.name + " " + std::to_string(file.size));
  EXPECT_EQ(seen, (std::vector<std::string>{"early.txt 5", "KesmarSetup.exe 300", "font.ttf 3", "gone.txt -1"}));
  EXPECT_TRUE(IsExtractionFolderName("KESMARS12"));
  EXPECT_FALSE(IsExtractionFolderName("kesmars"));
  EXPECT_FALSE(IsExtractionFolderName("kesmars1a"));
}

TEST(ChildProcess, TheDeadlineEndsTheWholeGroup) {
  TempDir dir;
  // A grandchild holds a pipe open while it lives: the pipe's end is its end.
  const std::string pipe = (dir.path() / "grandchild").string();
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  const int reader = ::open(pipe.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(reader, 0);
  ChildOptions options;
  options.argv = {"sh", "-c", "(exec 3>'" + pipe + "'; echo up >&3; exec sleep 30) & echo started; sleep 30"};
  options.environment = {"PATH=/usr/bin:/bin"};
  int status = 0;
  std::string output, problem;
  const auto start = TryClock::now();
  EXPECT_FALSE(RunToEnd(options, start + std::chrono::milliseconds(1500), &status, &output, &problem));
  EXPECT_LT(TryClock::now() - start, std::chrono::seconds(5));
  EXPECT_EQ(problem, "sh did not end in time");
  // "up" shows that it started; the end of the pipe, that it has gone.
  std::string said;
  bool ended = false;
  for (const auto until = TryClock::now() + std::chrono::seconds(10); !ended && TryClock::now() < until;) {
    char buffer[64];
    const ssize_t got = ::read(reader, buffer, sizeof buffer);
    if (got > 0) said.append(buffer, size_t(got));
    ended = got == 0 && !said.empty();
    if (got <= 0 && !ended) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ::close(reader);
  EXPECT_EQ(said, "up\n");
  EXPECT_TRUE(ended) << "the grandchild outlived the deadline";

  // Nothing beyond the three standard descriptors is handed on, even what was open without close-on-exec:
  // Wine would pass it to every process of a run.
  const int open = ::open("/dev/null", O_RDONLY);
  ASSERT_GE(open, 3);
  const std::string fd = "/proc/$$/fd/" + std::to_string(open);
  options.argv = {"sh", "-c", "[ -e /proc/$$/fd/2 ] && echo 2 open; [ -e " + fd + " ] && echo " + fd + " open; :"};
  ASSERT_TRUE(RunToEnd(options, TryClock::now() + std::chrono::seconds(10), &status, &output, &problem));
  ::close(open);
  EXPECT_EQ(output, "2 open\n");

  options.argv = {"sh", "-c", "echo out; echo err >&2; exit 3"};
  ASSERT_TRUE(RunToEnd(options, TryClock::now() + std::chrono::seconds(10), &status, &output, &problem));
  EXPECT_EQ(WEXITSTATUS(status), 3);
  EXPECT_EQ(output, "out\nerr\n");
  options.argv = {"no-such-program-here"};
  EXPECT_FALSE(RunToEnd(options, TryClock::now() + std::chrono::seconds(10), &status, &output, &problem));
  EXPECT_EQ(problem, "no-such-program-here is not installed");
}

// An environment variable for one test; what it was comes back afterwards.
class ScopedVariable {
 public:
  ScopedVariable(const char* name, const char* value) : name_(name) {
    const char* old = ::getenv(name);
    had_ = old != nullptr;
    if (had_) old_ = old;
    value != nullptr ? ::setenv(name, value, 1) : ::unsetenv(name);
  }
  ~ScopedVariable() { had_ ? ::setenv(name_, old_.c_str(), 1) : ::unsetenv(name_); }

 private:
  const char* name_;
  bool had_;
  std::string old_;
};

TEST(WinePrefix, EnvironmentAndPaths) {
  std::vector<std::string> environment, onScreen;
  {
    ScopedVariable display("DISPLAY", ":7"), data("XDG_DATA_HOME", "/home/me/.local/share"),
        overrides("WINEDLLOVERRIDES", nullptr);
    environment = WineEnvironment({"/p", "/h", "", ""});
    onScreen = WineEnvironment({"/p", "/h", ":3", ""});
  }
  auto has = [](const std::vector<std::string>& all, const std::string& entry) {
    return std::find(all.begin(), all.end(), entry) != all.end();
  };
  EXPECT_TRUE(has(environment, "WINEPREFIX=/p") && has(environment, "HOME=/h"));
  EXPECT_TRUE(has(environment, "WINEDLLOVERRIDES=mscoree,mshtml=;winemenubuilder.exe=d"));
  for (const std::string& entry : environment) {
    EXPECT_NE(entry.rfind("DISPLAY=", 0), 0u);
    EXPECT_NE(entry.rfind("XDG_DATA_HOME=", 0), 0u);
  }
  EXPECT_TRUE(has(onScreen, "DISPLAY=:3"));
  EXPECT_FALSE(has(onScreen, "DISPLAY=:7"));

  TempDir dir;
  dir.Write("prefix/drive_c/users/me/Temp/x", "");
  fs::create_directories(dir.path() / "prefix/dosdevices");
  fs::create_directory_symlink("../drive_c", dir.path() / "prefix/dosdevices/c:");
  const std::string prefix = (dir.path() / "prefix").string();
  const std::string driveC = fs::canonical(dir.path() / "prefix/drive_c").string();
  EXPECT_EQ(UnixPathIn(prefix, "C:\\users\\me\\Temp\\"), driveC + "/users/me/Temp");
  EXPECT_EQ(UnixPathIn(prefix, "c:\\USERS\\Me\\temp\\New"), driveC + "/users/me/Temp/New");
  EXPECT_EQ(UnixPathIn(prefix, "D:\\x"), "");
  EXPECT_EQ(UnixPathIn(prefix, "users\\me"), "");
  EXPECT_EQ(WindowsPathOf("/home/me/Set up.exe"), "Z:\\home\\me\\Set up.exe");
}

}  // namespace
}  // namespace kesmar::testing
