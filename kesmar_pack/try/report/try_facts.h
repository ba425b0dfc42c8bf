// What kesmar-pack try saw of one run of a launcher, for the report and its JSON, and the exit code that follows.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "kesmar_pack/try/wine/prefix_changes.h"
#include "kesmar_pack/try/wine/wine_registry.h"

namespace kesmar {

// A process of the run: the launcher, or one that it or its descendants started.
struct ProcessFact {
  uint32_t pid = 0;
  uint32_t parent = 0;
  std::string image;      // its Windows path; empty when Wine never gave one
  int64_t startMs = 0;    // since the launcher was created
  int64_t endMs = -1;     // -1: still running at the time limit
  bool hasExitCode = false;
  uint32_t exitCode = 0;
};

// A visible top-level window of the run's processes at the time limit.
struct WindowFact {
  uint32_t pid = 0;
  std::string title;
};

// A file that appeared in the extraction folder while the launcher ran.
struct ExtractedFile {
  std::string name;
  int64_t size = -1;  // -1: gone before its size could be read
};

struct TryFacts {
  std::string launcher;  // as given on the command line
  bool isLauncher = true;  // it carries a launcher's payload; false: run with --any all the same
  bool refused = false;    // refused before anything ran (problem says why)
  std::string wine;      // wine --version
  bool isolated = false;   // the run went in bubblewrap's sandbox
  bool network = false;    // with the host's network (--network)
  int timeLimit = 0;     // seconds, for the whole run
  double prepareSeconds = 0;
  bool templateMade = false;  // the template prefix was made by this run
  double totalSeconds = 0;

  bool started = false;      // the launcher's process was created
  std::string startProblem;  // why not, in Windows' words
  bool reachedLimit = false;
  bool watchEnded = false;   // kesmar-try-watch.exe said "done" or "fail": no line may follow
  std::vector<ProcessFact> processes;  // the launcher first
  std::vector<WindowFact> windows;

  std::string tempFolder;        // the launcher's temporary folder, as Windows names it
  std::string extractionFolder;  // the folder it made there; empty when none was seen
  std::vector<ExtractedFile> extracted;

  FontChanges fonts;
  FileChanges files;             // outside the temporary folder, paths relative to drive_c
  RegistryChanges registry;
  std::vector<std::string> leftInTemp;  // relative to the temporary folder, "\" between names
  bool changesKnown = false;     // the prefix could be compared after the run

  std::string screenshot;   // the PNG written; empty when none was
  std::string screenshotNote;  // why not, when one was asked for
  std::string keptPrefix;   // --keep
  std::string problem;      // what kept try from seeing the run through

  const ProcessFact* Launcher() const { return processes.empty() ? nullptr : &processes.front(); }
  // The process of the payload's setup program: the first that the launcher started.
  const ProcessFact* SetupProgram() const;
};

// Why the run failed, each as one phrase, in the order the report gives them;
// none when it passed: the file is a launcher, which exited with 0 within the
// time limit, whose setup program was started and returned 0, no process of
// the run crashed, nothing was left in the temporary folder, and try saw it all.
std::vector<std::string> TryFailureReasons(const TryFacts& facts);

// 0 when there is no reason for failure; 1 otherwise.
int TryExitCode(const TryFacts& facts);

// An exit code that is a Windows exception status: a crash. Its name, as
// "0xC0000005 access violation"; empty when the code is none.
std::string CrashStatus(uint32_t exitCode);

// The last name of a Windows path.
std::string WindowsBaseName(const std::string& path);

}  // namespace kesmar
