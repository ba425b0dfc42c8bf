// Every platform call of a whole run made to fail in turn: exit code, removal of the extracted files, no crash.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "launcher/extract_payload.h"
#include "launcher/run_launcher.h"
#include "tests/fakes/fake_platform.h"
#include "tests/support/payload_helpers.h"

namespace kesmar::testing {
namespace {

const std::string kTemp = "C:\\Temp";

// A run with two fonts, so that the font calls have a first and a later call.
struct World : FakePlatform {
  World() {
    ResetFolderCounter();
    // Made once: the encoder's set-up dominates a run over the fakes.
    static const Bytes payload = Container(RecordStream({{"readme.txt", "hello"},
                                                         {"KesmarSetup.exe", "MZ"},
                                                         {"Sans.ttf", "font one"},
                                                         {"Mono.TTF", "font two"}}));
    resources.SetPayload(payload);
  }
  // Every fake is told; only the one that has the operation ever matches it.
  void Fail(const std::string& operation, int nth) {
    fs.Fail(operation, "", nth);
    fonts.Fail(operation, "", nth);
    resources.Fail(operation, "", nth);
    processes.Fail(operation, "", nth);
    window.Fail(operation, "", nth);
    security.Fail(operation, "", nth);
  }
};

// "DeleteFileA(C:\x)" -> "DeleteFileA"; "LoadResource" stays as it is.
std::string Operation(const std::string& call) { return call.substr(0, call.find('(')); }

// What one failing operation does to the run.
struct Expectation {
  int exitWhenOnce;     // the operation fails on one call only (its first or its last)
  int exitWhenAlways;   // it fails on every call
  bool leftWhenLast;    // failing on its last call leaves files or the folder behind
  bool leftWhenAlways;  // so does failing on every call
};

// Operations whose failure cannot be reported by the interface, so cannot be injected.
const std::set<std::string> kCannotFail = {"RegisterLauncherClass", "HideLauncherWindow",
                                           "CoTaskMemFree", "WaitForSingleObject",
                                           "CloseHandle", "Sleep"};

// By operation. A failure before the folder exists gives 1 with nothing created;
// a record that cannot be written gives 1 with everything removed; the fonts
// are a courtesy and never change the outcome; a started and ended setup
// program gives 0. Removal retries ride out a single failed call; only a
// deletion or removal that always fails, or attributes that always misreport
// the files as gone, leave something behind.
const std::map<std::string, Expectation> kTable = {
    {"LoadStringW", {0, 0, false, false}},
    {"CreateLauncherWindow", {1, 1, false, false}},
    {"FindResourceA", {1, 1, false, false}},
    {"LoadResource", {1, 1, false, false}},
    {"LockResource", {1, 1, false, false}},
    {"SizeofResource", {1, 1, false, false}},
    {"GetTempPathA", {1, 1, false, false}},
    {"GetTempPathW", {1, 1, false, false}},
    {"GetShortPathNameW", {1, 1, false, false}},
    // No folder without its own DACL.
    {"GetTokenUserSid", {1, 1, false, false}},
    {"ConvertStringSecurityDescriptorToSecurityDescriptorA", {1, 1, false, false}},
    // First: the free name looks free anyway. Last: the folder looks gone, so
    // no attempt removes it; a path that cannot be queried counts as removed.
    {"GetFileAttributesA", {0, 0, true, true}},
    // Once: the next name is taken. Always: ten failed creations.
    {"CreateDirectoryA", {0, 1, false, false}},
    {"OpenFileForWriting", {1, 1, false, false}},
    {"Write", {1, 1, false, false}},
    {"Close", {1, 1, false, false}},
    {"SHGetFolderLocation", {0, 0, false, false}},
    {"SHGetPathFromIDListA", {0, 0, false, false}},
    {"CopyFileA", {0, 0, false, false}},
    {"AddFontResourceA", {0, 0, false, false}},
    {"CreateBroadcastThread", {0, 0, false, false}},
    {"WriteProfileStringA", {0, 0, false, false}},
    // The user's font path, like the Fonts folder's, never changes the outcome.
    {"SHGetFolderPathA", {0, 0, false, false}},
    {"SHGetFolderPathW", {0, 0, false, false}},
    {"RegCreateKeyExA", {0, 0, false, false}},
    {"RegSetValueExA", {0, 0, false, false}},
    {"DeleteFileA", {0, 0, false, true}},
    {"RemoveDirectoryA", {0, 0, false, true}},
    // The shell starts the program instead.
    {"CreateProcessA", {0, 0, false, false}},
    // Only reached after CreateProcessA failed: then nothing is started.
    {"ShellExecuteExA", {1, 1, false, false}},
};

struct Scenario {
  const char* name;
  void (*setUp)(World&);
};

const Scenario kScenarios[] = {
    {"started", [](World&) {}},
    {"started by the shell", [](World& w) { w.processes.createSucceeds = false; }},
    {"Fonts folder refused: fonts for the user",
     [](World& w) {
       for (const char* name : {"Sans.ttf", "Mono.TTF"}) {
         w.fs.Fail("CopyFileA", kTemp + "\\kesmars0\\" + name, 1);
       }
     }},
    {"temporary folder outside the code page",
     [](World& w) {
       w.fs.SetWideTempPath(L"C:\\Temp\\\u0416\\");
       w.fs.SetShortPath(L"C:\\Temp\\\u0416\\", L"C:\\Temp\\");
     }},
};

TEST(FaultInjection, EveryCallFailsInTurn) {
  for (const Scenario& scenario : kScenarios) {
    // The call sites come from a clean run, so that a new call is covered
    // (or, if missing from the table, reported) without touching this test.
    std::map<std::string, int> callCounts;
    {
      World clean;
      scenario.setUp(clean);
      ASSERT_EQ(RunLauncher(clean.platform, L""), 0) << scenario.name;
      ASSERT_TRUE(clean.fs.Children(kTemp).empty()) << scenario.name;
      for (const std::string& call : clean.log.calls()) ++callCounts[Operation(call)];
    }

    for (const auto& [operation, count] : callCounts) {
      if (kCannotFail.count(operation) != 0) continue;
      const auto row = kTable.find(operation);
      if (row == kTable.end()) {
        ADD_FAILURE() << scenario.name << ": " << operation
                      << " is called but has no row in the table";
        continue;
      }
      std::vector<int> nths = {1, 0};  // 0: every call
      if (count > 1) nths.push_back(count);
      for (int nth : nths) {
        const std::string what = std::string(scenario.name) + ": " + operation + " failing " +
                                 (nth == 0 ? "always" : "on call " + std::to_string(nth)) +
                                 " of " + std::to_string(count);
        World w;
        scenario.setUp(w);
        w.Fail(operation, nth);
        const int exitCode = RunLauncher(w.platform, L"");
        const bool always = nth == 0;
        EXPECT_EQ(exitCode, always ? row->second.exitWhenAlways : row->second.exitWhenOnce)
            << what;
        const bool left = !w.fs.Children(kTemp).empty();
        const bool last = nth == count && nth != 1;
        EXPECT_EQ(left, always ? row->second.leftWhenAlways : last && row->second.leftWhenLast)
            << what;
        // The setup program runs only from a complete extraction.
        if (exitCode == 1) {
          EXPECT_EQ(w.log.Count("WaitForSingleObject("), 0u) << what;
        }
        EXPECT_EQ(w.fonts.OpenItemLists(), 0) << what;
      }
    }
  }
}

}  // namespace
}  // namespace kesmar::testing
