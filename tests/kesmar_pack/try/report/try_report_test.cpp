// try's facts: read from kesmar-try-watch.exe's lines, turned into the exit code, the report and the JSON.
#include <gtest/gtest.h>

#include "kesmar_pack/try/report/try_report.h"
#include "kesmar_pack/try/watcher/watch_protocol.h"

namespace kesmar::testing {
namespace {

TryFacts Watched(const std::vector<std::string>& lines) {
  TryFacts facts;
  facts.timeLimit = 30;
  for (const std::string& line : lines) ApplyWatchLine(line, &facts);
  return facts;
}

TEST(WatchProtocol, EachLineItsFact) {
  struct Case {
    std::string line;
    WatchEvent event;
  } cases[] = {
      {"temp\tC:\\users\\me\\Temp\\", WatchEvent::kTemp}, {"start\t40", WatchEvent::kFact},
      {"process\t1\t40\t32", WatchEvent::kFact},          {"image\t40\tZ:\\a b\\Setup.exe", WatchEvent::kFact},
      {"exit\t9\t40\t0", WatchEvent::kFact},              {"limit\t30000", WatchEvent::kFact},
      {"window\t40\tTitle\twith a tab", WatchEvent::kFact}, {"shot", WatchEvent::kShot},
      {"done\t9\t0", WatchEvent::kDone},                   {"fail\t193\tBad EXE format (x)", WatchEvent::kFailed},
      // Broken lines change nothing.
      {"image\t77\tC:\\nobody.exe", WatchEvent::kUnknown}, {"exit\tx\t40\t0", WatchEvent::kUnknown},
      {"process\t1\t-4\t32", WatchEvent::kUnknown},        {"temp\t", WatchEvent::kUnknown},
      {"wine: something", WatchEvent::kUnknown},           {"", WatchEvent::kUnknown},
  };
  TryFacts facts;
  for (const Case& c : cases) EXPECT_EQ(ApplyWatchLine(c.line, &facts), c.event) << c.line;
  EXPECT_EQ(facts.tempFolder, "C:\\users\\me\\Temp\\");
  EXPECT_TRUE(facts.started);
  EXPECT_TRUE(facts.reachedLimit);
  ASSERT_EQ(facts.processes.size(), 1u);
  const ProcessFact& launcher = facts.processes[0];
  EXPECT_EQ(launcher.image, "Z:\\a b\\Setup.exe");
  EXPECT_EQ(launcher.parent, 32u);
  EXPECT_EQ(launcher.endMs, 9);
  EXPECT_TRUE(launcher.hasExitCode);
  ASSERT_EQ(facts.windows.size(), 1u);
  EXPECT_EQ(facts.windows[0].title, "Title\twith a tab");
  EXPECT_EQ(facts.startProblem, "Bad EXE format (x)");
}

TEST(WatchProtocol, ANumberUsedAgainIsTheLatestProcess) {
  const TryFacts facts = Watched({"process\t1\t40\t32", "exit\t5\t40\t-", "process\t6\t40\t32", "exit\t8\t40\t3"});
  ASSERT_EQ(facts.processes.size(), 2u);
  EXPECT_FALSE(facts.processes[0].hasExitCode);  // "-": Wine could not say
  EXPECT_EQ(facts.processes[1].endMs, 8);
  EXPECT_EQ(facts.processes[1].exitCode, 3u);
}

// A run that passed: the launcher and its setup program exited with 0.
TryFacts Passed() {
  TryFacts facts = Watched({"temp\tC:\\T\\", "start\t40", "process\t2\t40\t32", "image\t40\tZ:\\Setup.exe",
                            "process\t50\t52\t40", "image\t52\tC:\\T\\kesmars0\\KesmarSetup.exe", "exit\t90\t52\t7",
                            "exit\t120\t40\t0", "done\t120\t0"});
  facts.changesKnown = true;
  return facts;
}

TEST(TryExitCode, ZeroOnlyForAWholeCleanRun) {
  struct Case {
    const char* what;
    void (*change)(TryFacts*);
    int code;
  } cases[] = {
      {"exit code 0, nothing left", [](TryFacts*) {}, 0},
      {"the setup program's exit code does not count", [](TryFacts* f) { f->processes[1].exitCode = 1; }, 0},
      {"exit code 1", [](TryFacts* f) { f->processes[0].exitCode = 1; }, 1},
      {"a crash", [](TryFacts* f) { f->processes[0].exitCode = 0xC0000005; }, 1},
      {"exit code unknown", [](TryFacts* f) { f->processes[0].hasExitCode = false; }, 1},
      {"left in temp", [](TryFacts* f) { f->leftInTemp = {"kesmars0\\"}; }, 1},
      {"time limit", [](TryFacts* f) { f->reachedLimit = true; }, 1},
      {"still running", [](TryFacts* f) { f->processes[0].endMs = -1; }, 1},
      {"not started", [](TryFacts* f) { f->started = false; }, 1},
      {"nothing seen", [](TryFacts* f) { f->processes.clear(); }, 1},
      {"prefix not compared", [](TryFacts* f) { f->changesKnown = false; }, 1},
      {"a problem of try's own", [](TryFacts* f) { f->problem = "Wine did not stop"; }, 1},
  };
  for (const Case& c : cases) {
    TryFacts facts = Passed();
    c.change(&facts);
    EXPECT_EQ(TryExitCode(facts), c.code) << c.what;
    const std::string report = FormatTryReport(facts);
    const std::string verdict = report.substr(report.rfind("result"));
    EXPECT_EQ(verdict.find(c.code == 0 ? "passed" : "failed:") != std::string::npos, true) << c.what << "\n" << report;
    EXPECT_NE(FormatTryJson(facts).find(c.code == 0 ? "\"passed\": true" : "\"passed\": false"), std::string::npos);
  }
}

TEST(TryReport, ShowsAWindowsStatusInHex) {
  TryFacts facts = Passed();
  facts.processes[0].exitCode = 0xC0000135;  // a DLL not found
  EXPECT_NE(FormatTryReport(facts).find("exit code 3221225781 (0xC0000135) after 0.12 s"), std::string::npos);
  EXPECT_NE(FormatTryJson(facts).find("\"exitCode\": 3221225781,"), std::string::npos);
}

TEST(TryReport, NamesTheSetupProgram) {
  struct Case {
    const char* what;
    std::vector<std::string> lines;
    std::string setup;  // the pid reported, "" for none
  } cases[] = {
      {"the launcher's child of that name", {"process\t5\t9\t40", "image\t9\tC:\\x\\helper.exe", "process\t6\t8\t40",
                                             "image\t8\tC:\\x\\kesmarsetup.EXE"}, "8"},
      {"one of that name that another started", {"process\t5\t9\t40", "process\t6\t8\t9",
                                                 "image\t8\tC:\\x\\KesmarSetup.exe"}, "8"},
      {"else the launcher's first child", {"process\t5\t9\t41", "process\t6\t8\t40", "process\t7\t7\t40"}, "8"},
      {"none", {"process\t5\t9\t41"}, ""},
  };
  for (const Case& c : cases) {
    std::vector<std::string> lines = {"start\t40", "process\t0\t40\t32"};
    lines.insert(lines.end(), c.lines.begin(), c.lines.end());
    const TryFacts facts = Watched(lines);
    const ProcessFact* setup = facts.SetupProgram();
    EXPECT_EQ(setup == nullptr ? "" : std::to_string(setup->pid), c.setup) << c.what;
  }
}

TEST(TryReport, AWaitingProgramAndItsWindows) {
  TryFacts facts = Watched({"temp\tC:\\T\\", "start\t40", "process\t2\t40\t32", "process\t50\t52\t40",
                            "image\t52\tC:\\T\\kesmars0\\KesmarSetup.exe", "process\t60\t53\t52",
                            "limit\t30000", "running\t40", "running\t52", "window\t52\tSetup - Welcome",
                            "window\t52\tSecond"});
  facts.changesKnown = true;
  const std::string report = FormatTryReport(facts);
  EXPECT_NE(report.find("launcher       still running at the time limit of 30 s; ended"), std::string::npos) << report;
  EXPECT_NE(report.find("KesmarSetup.exe started at 0.05 s, still running at the time limit of 30 s with a window "
                        "open (waiting for a person?)"), std::string::npos) << report;
  EXPECT_NE(report.find("also started   process 53 at 0.06 s, still running at the time limit of 30 s\n"),
            std::string::npos) << report;
  EXPECT_NE(report.find("windows        \"Setup - Welcome\" (KesmarSetup.exe)\n                 \"Second\""),
            std::string::npos) << report;
  EXPECT_NE(FormatTryJson(facts).find("\"seconds\": null, \"runningAtLimit\": true"), std::string::npos);
}

TEST(TryReport, LongListsAreCutShortInTheReportOnly) {
  TryFacts facts = Passed();
  for (int i = 0; i < 15; ++i) facts.files.created.push_back("ProgramData/f" + std::to_string(i + 10));
  const std::string report = FormatTryReport(facts);
  EXPECT_NE(report.find("+ C:\\ProgramData\\f21\n"), std::string::npos);
  EXPECT_EQ(report.find("f22"), std::string::npos);
  EXPECT_NE(report.find("... and 3 more (--json lists them all)"), std::string::npos);
  EXPECT_NE(FormatTryJson(facts).find("\"C:\\\\ProgramData\\\\f24\"]"), std::string::npos);
}

TEST(TryJson, EscapesWhatIsNoPlainText) {
  TryFacts facts = Passed();
  facts.launcher = std::string("a \"b\" c\\d\te\x01") + "\xff.exe";
  facts.windows = {{52, "caf\xc3\xa9"}};
  const std::string json = FormatTryJson(facts);
  EXPECT_NE(json.find("\"launcher\": \"a \\\"b\\\" c\\\\d\\\\x09e\\\\x01\\\\xFF.exe\""), std::string::npos) << json;
  EXPECT_NE(json.find("\"title\": \"caf\xc3\xa9\""), std::string::npos);
  EXPECT_NE(json.find("\"exitCode\": 0,\n"), std::string::npos);
  EXPECT_NE(json.find("\"extractionFolder\": null"), std::string::npos);
  // Every line but the braces is one member, and no control character is left.
  for (char c : json) EXPECT_FALSE(static_cast<unsigned char>(c) < 0x20 && c != '\n');
}

}  // namespace
}  // namespace kesmar::testing
