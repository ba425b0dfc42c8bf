// RunLauncher against fakes: every path of the run with its exit code, its removal attempts and its pauses.
#include <gtest/gtest.h>

#include <functional>

#include "launcher/extract_payload.h"
#include "launcher/run_launcher.h"
#include "tests/fakes/fake_platform.h"
#include "tests/support/payload_helpers.h"

namespace kesmar::testing {
namespace {

const std::string kTemp = "C:\\Temp";
const std::string kFolder = kTemp + "\\kesmars0";
const std::string kSetup = kFolder + "\\KesmarSetup.exe";

struct World : FakePlatform {
  World() {
    ResetFolderCounter();
    resources.SetPayload(Container(RecordStream(
        {{"readme.txt", "hello"}, {"KesmarSetup.exe", "MZ"}, {"Sans.ttf", "font"}})));
  }
  int Run(const std::wstring& argumentText) { return RunLauncher(platform, argumentText); }
  // Removal attempts that still had the folder to look at.
  size_t FolderAttempts() const { return log.Count("GetFileAttributesA(" + kFolder + ")") - 1; }
};

TEST(RunLauncher, ExitCodesAttemptsAndPausesByPath) {
  struct Case {
    const char* what;
    std::function<void(World&)> setUp;
    int exitCode;
    bool started;        // CreateProcessA was called
    size_t pauses;       // Sleep(100) calls
    bool folderRemains;  // the kesmars folder is still on disk
  };
  const std::vector<Case> cases = {
      {"setup program ends, all removable at once", [](World&) {}, 0, true, 0, false},
      {"setup program leaves a file: 20 attempts, 19 pauses",
       [](World& w) {
         w.processes.whileRunning = [&w] { w.fs.AddFile(kFolder + "\\left.txt", "x"); };
       },
       0, true, 19, true},
      {"a file locked for three attempts",
       [](World& w) {
         for (int n = 1; n <= 3; ++n) w.fs.Fail("DeleteFileA", kFolder + "\\readme.txt", n);
       },
       0, true, 3, false},
      {"no payload resource",
       [](World& w) { w.resources.Fail("FindResourceA"); }, 1, false, 0, false},
      {"no setup program in the payload",
       [](World& w) { w.resources.SetPayload(Container(RecordStream({{"readme.txt", "hi"}}))); },
       1, false, 0, false},
      {"CreateProcessA fails, the shell starts it with a handle",
       [](World& w) { w.processes.createSucceeds = false; }, 0, true, 0, false},
      {"CreateProcessA fails, the shell gives no handle",
       [](World& w) {
         w.processes.createSucceeds = false;
         w.processes.shellGivesHandle = false;
       },
       1, true, 0, false},
      {"CreateProcessA and the shell both fail",
       [](World& w) {
         w.processes.createSucceeds = false;
         w.processes.shellSucceeds = false;
       },
       1, true, 0, false},
  };
  for (const Case& c : cases) {
    World w;
    c.setUp(w);
    EXPECT_EQ(w.Run(L""), c.exitCode) << c.what;
    EXPECT_EQ(w.log.Count("CreateProcessA("), c.started ? 1u : 0u) << c.what;
    EXPECT_EQ(w.log.Count("Sleep(100)"), c.pauses) << c.what;
    EXPECT_EQ(w.log.Count("Sleep("), c.pauses) << c.what;
    EXPECT_EQ(w.fs.Exists(kFolder), c.folderRemains) << c.what;
  }
}

TEST(RunLauncher, NormalRunOrderAndStartData) {
  World w;
  ASSERT_EQ(w.Run(L""), 0);
  const auto& calls = w.log.calls();
  auto at = [&](const std::string& call) {
    return std::find(calls.begin(), calls.end(), call) - calls.begin();
  };
  const auto create = at("CreateProcessA(" + kSetup + "," + kFolder + ")");
  ASSERT_LT(size_t(create), calls.size());
  EXPECT_LT(at("LoadStringW(103,100)"), at("LoadStringW(109,100)"));
  EXPECT_LT(at("LoadStringW(109,100)"), at("RegisterLauncherClass"));
  EXPECT_LT(at("RegisterLauncherClass"), at("CreateLauncherWindow"));
  EXPECT_LT(at("HideLauncherWindow"), at("GetTempPathA"));
  EXPECT_EQ(calls[create + 1], "WaitForSingleObject(process)");
  EXPECT_EQ(calls[create + 2], "CloseHandle(process)");
  EXPECT_EQ(calls[create + 3], "CloseHandle(thread)");
  EXPECT_TRUE(w.processes.lastStartup.useShowWindow);
  EXPECT_EQ(w.processes.lastStartup.showWindow, 5);
  // The font was installed and its copy deleted before the start.
  EXPECT_LT(at("DeleteFileA(" + kFolder + "\\Sans.ttf)"), create);
  EXPECT_EQ(w.FolderAttempts(), 1u);
  EXPECT_TRUE(w.fs.Children(kTemp).empty());
}

TEST(RunLauncher, TwentyAttemptsThenOneMoreAtDestruction) {
  World w;
  w.processes.whileRunning = [&w] { w.fs.AddFile(kFolder + "\\left.txt", "x"); };
  ASSERT_EQ(w.Run(L""), 0);
  EXPECT_EQ(w.FolderAttempts(), 21u);
  // No pause after the last attempt of the loop, none before the extra one.
  const auto& calls = w.log.calls();
  EXPECT_EQ(calls.back(), "RemoveDirectoryA(" + kFolder + ")");
  EXPECT_NE(calls[calls.size() - 3], "Sleep(100)");
}

TEST(RunLauncher, ShellFallbackWaitsBeforeRemoving) {
  World w;
  w.processes.createSucceeds = false;
  bool presentWhileRunning = false;
  w.processes.whileRunning = [&] { presentWhileRunning = w.fs.Exists(kSetup); };
  ASSERT_EQ(w.Run(L""), 0);
  EXPECT_TRUE(presentWhileRunning) << "files stay until the started program has ended";
  EXPECT_EQ(w.log.Count("ShellExecuteExA(open," + kSetup + "," + kFolder + ")"), 1u);
  EXPECT_EQ(w.log.Count("WaitForSingleObject(shell process)"), 1u);
  EXPECT_EQ(w.log.Count("CloseHandle(shell process)"), 1u);
  EXPECT_FALSE(w.fs.Exists(kFolder));
}

TEST(RunLauncher, ArgumentTextDecidesTheMode) {
  struct Case {
    std::wstring text;
    bool builder;
  };
  const std::vector<Case> cases = {{L"-c", true},   {L"", false},     {L"-c ", false},
                                   {L"-C", false},  {L"\"-c\"", false}, {L"-c x", false},
                                   {L" -c", false}, {L"-cc", false}};
  for (const Case& c : cases) {
    World w;
    w.fs.AddFolder("finst");
    w.fs.AddFile("finst\\a.txt", "abc");
    EXPECT_EQ(w.Run(c.text), 0);
    EXPECT_EQ(w.fs.Exists("datakes.lzma"), c.builder);
    EXPECT_EQ(w.log.Count("CreateProcessA("), c.builder ? 0u : 1u);
  }
}

TEST(RunLauncher, BuilderModeResultAndWindowFailure) {
  World failedBuild;  // no finst
  EXPECT_EQ(failedBuild.Run(L"-c"), 1);
  EXPECT_EQ(failedBuild.log.Count("GetFileAttributesA("), 0u) << "the empty list removes nothing";

  for (const std::wstring text : {L"", L"-c"}) {
    World w;
    w.fs.AddFolder("finst");
    w.fs.AddFile("finst\\a.txt", "abc");
    w.window.createSucceeds = false;
    EXPECT_EQ(w.Run(text), 1) << "a run without its window did nothing";
    EXPECT_EQ(w.log.calls().back(), "CreateLauncherWindow");
    EXPECT_FALSE(w.fs.Exists("datakes.lzma"));
  }
}

}  // namespace
}  // namespace kesmar::testing
