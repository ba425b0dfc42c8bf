// try's facts: read from kesmar-try-watch.exe's lines, turned into the exit code, the report and the JSON.
#include <gtest/gtest.h>

#include "kesmar_pack/try/report/try_report.h"
#include "kesmar_pack/try/watcher/watch_protocol.h"

namespace kesmar::testing {
namespace {

// The facts of kesmar-try-watch.exe's lines; the temporary folder's comes first unless given.
TryFacts Watched(std::vector<std::string> lines) {
  TryFacts facts;
  facts.timeLimit = 30;
  if (lines.empty() || lines[0].rfind("temp\t", 0) != 0) lines.insert(lines.begin(), "temp\tC:\\T\\");
  for (const std::string& line : lines) EXPECT_NE(ApplyWatchLine(line, &facts), WatchEvent::kUnknown) << line;
  return facts;
}

TEST(WatchProtocol, EachLineItsFactInItsTurn) {
  // One run's lines in order, with what a forger would add between them:
  // whatever is out of its turn is no fact.
  struct Case {
    std::string line;
    WatchEvent event;
  } cases[] = {
      {"start\t40", WatchEvent::kUnknown},  // before the temporary folder
      {"temp\tC:\\users\\me\\Temp\\", WatchEvent::kTemp},     {"temp\tC:\\other\\", WatchEvent::kUnknown},
      {"process\t1\t40\t32", WatchEvent::kUnknown},  // before the start
      {"start\t40", WatchEvent::kFact},                     {"start\t41", WatchEvent::kUnknown},
      {"process\t1\t40\t32", WatchEvent::kFact},
      {"process\t3\t40\t32", WatchEvent::kUnknown},  // its number still in use
      {"image\t40\tZ:\\a b\\Setup.exe", WatchEvent::kFact},
      {"image\t40\tC:\\Program Files\\Trusted Vendor\\trusted.exe", WatchEvent::kUnknown},
      {"image\t77\tC:\\nobody.exe", WatchEvent::kUnknown},   {"exit\tx\t40\t0", WatchEvent::kUnknown},
      {"exit\t9\t40\t4294967296", WatchEvent::kUnknown},    {"exit\t9\t40\tzero", WatchEvent::kUnknown},
      {"process\t1\t-4\t32", WatchEvent::kUnknown},
      {"window\t40\tTitle", WatchEvent::kUnknown},  // before the limit
      {"shot", WatchEvent::kUnknown},                       {"exit\t9\t40\t0", WatchEvent::kFact},
      {"exit\t9\t40\t0", WatchEvent::kUnknown},  // ended already
      {"limit", WatchEvent::kUnknown},                      {"limit\t30000", WatchEvent::kFact},
      {"running\t40", WatchEvent::kFact},                   {"window\t40\tTitle\twith a tab", WatchEvent::kFact},
      {"shot\tnow", WatchEvent::kUnknown},                  {"shot", WatchEvent::kShot},
      {"wine: something", WatchEvent::kUnknown},            {"", WatchEvent::kUnknown},
      {"fail\t193\tBad EXE format (x)", WatchEvent::kUnknown},  // after the start
      {"done\t9", WatchEvent::kUnknown},                    {"done\t9\t0", WatchEvent::kDone},
      {"exit\t10\t40\t0", WatchEvent::kUnknown},           {"done\t9\t0", WatchEvent::kUnknown},
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

  const TryFacts failed = Watched({"fail\t193\tBad EXE format (x)"});
  EXPECT_EQ(failed.startProblem, "Bad EXE format (x)");
  EXPECT_FALSE(failed.started);
}

TEST(WatchProtocol, ANumberUsedAgainIsTheLatestProcess) {
  const TryFacts facts =
      Watched({"start\t40", "process\t1\t40\t32", "exit\t5\t40\t-", "process\t6\t40\t32", "exit\t8\t40\t3"});
  ASSERT_EQ(facts.processes.size(), 2u);
  EXPECT_FALSE(facts.processes[0].hasExitCode);  // "-": Wine could not say
  EXPECT_EQ(facts.processes[1].endMs, 8);
  EXPECT_EQ(facts.processes[1].exitCode, 3u);
}

// A run that passed: the launcher and its setup program exited with 0.
TryFacts Passed() {
  TryFacts facts = Watched({"temp\tC:\\T\\", "start\t40", "process\t2\t40\t32", "image\t40\tZ:\\Setup.exe",
                            "process\t50\t52\t40", "image\t52\tC:\\T\\kesmars0\\KesmarSetup.exe", "exit\t90\t52\t0",
                            "exit\t120\t40\t0", "done\t120\t0"});
  facts.changesKnown = true;
  return facts;
}

// A process of the run besides the launcher and its setup program.
void AddProcess(TryFacts* facts, uint32_t pid, const std::string& image, uint32_t exitCode) {
  ProcessFact process;
  process.pid = pid;
  process.parent = 52;
  process.image = image;
  process.startMs = 60;
  process.endMs = 70;
  process.hasExitCode = true;
  process.exitCode = exitCode;
  facts->processes.push_back(process);
}

TEST(TryExitCode, ZeroOnlyForAWholeCleanRun) {
  struct Case {
    const char* what;
    void (*change)(TryFacts*);
    std::string reason;  // the first reason given; empty: it passed
  } cases[] = {
      {"exit code 0, its setup program's 0, nothing left", [](TryFacts*) {}, ""},
      {"a helper's exit code does not count", [](TryFacts* f) { AddProcess(f, 60, "C:\\h.exe", 1); }, ""},
      {"the setup program failed", [](TryFacts* f) { f->processes[1].exitCode = 3; },
       "its setup program's exit code was 3"},
      {"the setup program crashed", [](TryFacts* f) { f->processes[1].exitCode = 0xC000001D; },
       "KesmarSetup.exe crashed: 0xC000001D illegal instruction"},
      {"its exit code unknown", [](TryFacts* f) { f->processes[1].hasExitCode = false; },
       "its setup program's exit code is not known"},
      {"no setup program", [](TryFacts* f) { f->processes.pop_back(); }, "its setup program was not started"},
      {"a helper crashed", [](TryFacts* f) { AddProcess(f, 60, "C:\\T\\h.exe", 0xC0000409); },
       "h.exe crashed: 0xC0000409 stack buffer overrun"},
      {"an unnamed one crashed", [](TryFacts* f) { AddProcess(f, 60, "", 0xC0000001); },
       "process 60 crashed: 0xC0000001 exception"},
      {"no launcher", [](TryFacts* f) { f->isLauncher = false; },
       "it is no launcher: it carries no launcher payload (run with --any)"},
      {"exit code 1", [](TryFacts* f) { f->processes[0].exitCode = 1; }, "the launcher's exit code was 1"},
      {"the launcher crashed", [](TryFacts* f) { f->processes[0].exitCode = 0xC0000005; },
       "Setup.exe crashed: 0xC0000005 access violation"},
      {"exit code unknown", [](TryFacts* f) { f->processes[0].hasExitCode = false; },
       "the launcher's exit code is not known"},
      {"left in temp", [](TryFacts* f) { f->leftInTemp = {"kesmars0\\"}; }, "it left files in the temporary folder"},
      {"time limit", [](TryFacts* f) { f->reachedLimit = true; }, "the time limit was reached"},
      {"still running", [](TryFacts* f) { f->processes[0].endMs = -1; }, "the launcher did not end"},
      {"not started", [](TryFacts* f) { f->started = false; }, "the launcher did not start"},
      {"nothing seen", [](TryFacts* f) { f->processes.clear(); }, "nothing was seen of the launcher"},
      {"prefix not compared", [](TryFacts* f) { f->changesKnown = false; }, "the prefix could not be compared"},
      {"a problem of try's own", [](TryFacts* f) { f->problem = "Wine did not stop"; }, "Wine did not stop"},
  };
  for (const Case& c : cases) {
    TryFacts facts = Passed();
    c.change(&facts);
    const std::vector<std::string> why = TryFailureReasons(facts);
    EXPECT_EQ(TryExitCode(facts), c.reason.empty() ? 0 : 1) << c.what;
    EXPECT_EQ(why.empty() ? "" : why[0], c.reason) << c.what;
    const std::string report = FormatTryReport(facts);
    const std::string verdict = report.substr(report.rfind("result"));
    EXPECT_EQ(verdict.rfind(c.reason.empty() ? "result         passed" : "result         failed: " + c.reason, 0), 0u)
        << c.what << "\n" << report;
    const std::string json = FormatTryJson(facts);
    EXPECT_NE(json.find(c.reason.empty() ? "\"passed\": true" : "\"passed\": false"), std::string::npos) << c.what;
    EXPECT_NE(json.find(c.reason.empty() ? "\"problems\": []," : "\"problems\": [\"" + c.reason), std::string::npos)
        << c.what << json;
    EXPECT_EQ(json.find("\"problem\": null") != std::string::npos, c.reason.empty()) << c.what;
  }
}

TEST(TryExitCode, EveryReasonIsListed) {
  TryFacts facts = Passed();
  facts.processes[1].exitCode = 3;
  facts.leftInTemp = {"kesmars0\\"};
  AddProcess(&facts, 60, "C:\\T\\h.exe", 0xC0000005);
  EXPECT_EQ(TryFailureReasons(facts),
            (std::vector<std::string>{"its setup program's exit code was 3", "h.exe crashed: 0xC0000005 access violation",
                                      "it left files in the temporary folder"}));
  const std::string report = FormatTryReport(facts);
  EXPECT_NE(report.find("also started   h.exe at 0.06 s and ran 0.01 s, exit code 3221225477 (0xC0000005): crashed, "
                        "0xC0000005 access violation\n"), std::string::npos) << report;
}

TEST(CrashStatus, NamesExceptionsAndNothingElse) {
  const std::pair<uint32_t, std::string> cases[] = {
      {0, ""}, {1, ""}, {259, ""}, {0x7FFFFFFF, ""}, {0x80000001, ""},
      {0x80000003, "0x80000003 breakpoint"}, {0xC00000FD, "0xC00000FD stack overflow"},
      {0xFFFFFFFF, "0xFFFFFFFF exception"},
  };
  for (const auto& c : cases) EXPECT_EQ(CrashStatus(c.first), c.second) << c.first;
}

TEST(TryReport, ShowsAWindowsStatusInHex) {
  TryFacts facts = Passed();
  facts.processes[0].exitCode = 0xC0000135;  // a DLL not found
  EXPECT_NE(FormatTryReport(facts).find("launcher       crashed: 0xC0000135 a DLL was not found, exit code 3221225781 "
                                        "(0xC0000135) after 0.12 s"),
            std::string::npos)
      << FormatTryReport(facts);
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

TEST(TryReport, TextFromTheRunReachesNoTerminalRaw) {
  // Escape sequences that would set a terminal's title and colours, wherever the run can put text.
  const std::string poison = "\x1b]0;owned\x07\x1b[31m\x9b" "2J\r";
  struct Case {
    const char* what;
    void (*poison)(TryFacts*, const std::string&);
  } cases[] = {
      {"Wine's message", [](TryFacts* f, const std::string& p) { f->problem = "Wine said: " + p; }},
      {"a start problem", [](TryFacts* f, const std::string& p) { f->started = false, f->startProblem = p; }},
      {"a window title", [](TryFacts* f, const std::string& p) { f->reachedLimit = true, f->windows = {{52, p}}; }},
      {"an image", [](TryFacts* f, const std::string& p) { AddProcess(f, 60, "C:\\" + p, 0xC0000005); }},
      {"a file name", [](TryFacts* f, const std::string& p) {
         f->files.created = {"ProgramData/" + p}, f->leftInTemp = {p};
         f->extractionFolder = "C:\\T\\kesmars0", f->extracted = {{p, 1}};
       }},
      {"a registry name", [](TryFacts* f, const std::string& p) {
         f->registry.keysAdded = {"HKCU\\" + p}, f->registry.values = {{"HKCU\\" + p, p, "", "\"" + p + "\""}};
       }},
      {"the temporary folder", [](TryFacts* f, const std::string& p) { f->tempFolder = "C:\\" + p; }},
  };
  for (const Case& c : cases) {
    TryFacts facts = Passed();
    c.poison(&facts, poison);
    for (const std::string& text : {FormatTryReport(facts), FormatTryJson(facts)}) {
      for (unsigned char ch : text) EXPECT_TRUE((ch >= 0x20 && ch != 0x7F) || ch == '\n') << c.what << ": " << int(ch);
      EXPECT_NE(text.find("\\x1B]0;owned"), std::string::npos) << c.what << "\n" << text;
      EXPECT_EQ(text.find("\xc2\x9b"), std::string::npos) << c.what;
    }
  }
}

}  // namespace
}  // namespace kesmar::testing
