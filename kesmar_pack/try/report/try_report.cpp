// The text of kesmar-pack try's report, and the exit code its facts give.
#include "kesmar_pack/try/report/try_report.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "kesmar_pack/commands/payload_file.h"

namespace kesmar {
namespace {

constexpr size_t kListedLines = 12;
constexpr size_t kFilesOnALine = 4;
constexpr char kIndent[] = "                 ";

std::string Label(const std::string& label) {
  std::string line = "  " + label;
  line.resize(sizeof kIndent - 1, ' ');
  return line;
}

std::string Plural(size_t count, const std::string& one, const std::string& many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

std::string Quoted(const std::string& text) { return "\"" + PrintableName(text) + "\""; }

// Long data is cut to keep a registry line on one screen line.
std::string Short(const std::string& text) {
  const std::string shown = PrintableName(text);
  return shown.size() <= 60 ? shown : shown.substr(0, 57) + "...";
}

// Lines under a label, at most kListedLines of them.
void AddList(const std::vector<std::string>& lines, std::string* report) {
  for (size_t i = 0; i < lines.size() && i < kListedLines; ++i) *report += kIndent + lines[i] + "\n";
  if (lines.size() > kListedLines) {
    *report += std::string(kIndent) + "... and " + std::to_string(lines.size() - kListedLines) +
               " more (--json lists them all)\n";
  }
}

std::string ProcessName(const ProcessFact& process) {
  if (process.image.empty()) return "process " + std::to_string(process.pid);
  return PrintableName(WindowsBaseName(process.image));
}

// An exit code; one that is a Windows status (a crash, a DLL not found) also in hex, as Windows documents them.
std::string ShownExitCode(uint32_t code) {
  if (code < 0x80000000u) return std::to_string(code);
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%08X", code);
  return std::to_string(code) + " (" + hex + ")";
}

// When the run was cut short.
std::string Ending(const TryFacts& facts) {
  return facts.reachedLimit ? "at the time limit of " + std::to_string(facts.timeLimit) + " s"
                            : "when the run was stopped";
}

std::string LauncherLine(const TryFacts& facts) {
  const ProcessFact* launcher = facts.Launcher();
  if (!facts.started) {
    return "did not start: " + PrintableName(facts.startProblem.empty() ? facts.problem : facts.startProblem);
  }
  if (launcher == nullptr) return "started; nothing more was seen";
  if (launcher->endMs < 0) return "still running " + Ending(facts) + "; ended, with everything it started";
  std::string line = launcher->hasExitCode ? "exit code " + ShownExitCode(launcher->exitCode) : "exit code unknown";
  if (launcher->hasExitCode && !CrashStatus(launcher->exitCode).empty()) {
    line = "crashed: " + CrashStatus(launcher->exitCode) + ", exit code " + ShownExitCode(launcher->exitCode);
  }
  line += " after " + ShownSeconds(double(launcher->endMs - launcher->startMs) / 1000) + " s";
  if (facts.reachedLimit) line += "; what it started ran on until the time limit and was ended";
  return line;
}

// When a process started, how long it ran and how it ended; `verb` before the time.
std::string RunLine(const TryFacts& facts, const ProcessFact& process, const std::string& verb) {
  std::string line = ProcessName(process) + verb + " at " + ShownSeconds(double(process.startMs) / 1000) + " s";
  if (process.endMs < 0) {
    bool shown = false;
    for (const WindowFact& window : facts.windows) shown = shown || window.pid == process.pid;
    // A window open at the limit: most likely a page that waits for a click.
    return line + ", still running " + Ending(facts) + (shown ? " with a window open (waiting for a person?)" : "");
  }
  line += " and ran " + ShownSeconds(double(process.endMs - process.startMs) / 1000) + " s";
  if (process.hasExitCode) line += ", exit code " + ShownExitCode(process.exitCode);
  if (process.hasExitCode && !CrashStatus(process.exitCode).empty()) line += ": crashed, " + CrashStatus(process.exitCode);
  return line;
}

std::string SetupLine(const TryFacts& facts) {
  const ProcessFact* setup = facts.SetupProgram();
  if (setup == nullptr) return !facts.started ? "-" : facts.isLauncher ? "not started" : "none: the file is no launcher";
  return RunLine(facts, *setup, " started");
}

std::vector<std::string> ChangeLines(const TryFacts& facts) {
  std::vector<std::string> lines;
  for (const std::string& path : facts.files.created) lines.push_back("+ " + PrintableName(DriveCPath(path)));
  for (const std::string& path : facts.files.changed) lines.push_back("~ " + PrintableName(DriveCPath(path)));
  for (const std::string& path : facts.files.removed) lines.push_back("- " + PrintableName(DriveCPath(path)));
  for (const std::string& key : facts.registry.keysAdded) lines.push_back("+ key " + PrintableName(key));
  for (const std::string& key : facts.registry.keysRemoved) lines.push_back("- key " + PrintableName(key));
  for (const RegistryValueChange& value : facts.registry.values) {
    const std::string where = PrintableName(value.key) + ": " + PrintableName(value.name);
    if (value.before.empty()) {
      lines.push_back("+ " + where + " = " + Short(ShownRegistryData(value.after)));
    } else if (value.after.empty()) {
      lines.push_back("- " + where);
    } else {
      lines.push_back("~ " + where + " = " + Short(ShownRegistryData(value.after)) + " (was " +
                      Short(ShownRegistryData(value.before)) + ")");
    }
  }
  return lines;
}

std::string ChangeSummary(const TryFacts& facts) {
  if (!facts.changesKnown) {
    return "not known: " + (facts.problem.empty() ? "the prefix was not compared" : PrintableName(facts.problem));
  }
  const FileChanges& files = facts.files;
  std::string line = files.empty() ? "no file under drive_c"
                                   : std::to_string(files.created.size()) + " created, " +
                                         std::to_string(files.changed.size()) + " changed, " +
                                         std::to_string(files.removed.size()) + " removed under drive_c";
  const RegistryChanges& registry = facts.registry;
  if (registry.empty()) return line + "; no registry key or value";
  return line + "; registry: " + Plural(registry.keysAdded.size(), "key", "keys") + " added, " +
         Plural(registry.keysRemoved.size(), "key", "keys") + " removed, " +
         Plural(registry.values.size(), "value", "values") + " added, changed or removed";
}

std::string Verdict(const TryFacts& facts) {
  const std::vector<std::string> why = TryFailureReasons(facts);
  if (why.empty()) return "passed: exit code 0, its setup program's 0, no crash, nothing left in the temporary folder";
  std::string line = "failed: ";
  for (size_t i = 0; i < why.size(); ++i) line += (i ? "; " : "") + PrintableName(why[i]);
  return line;
}

}  // namespace

std::string ShownSeconds(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, seconds < 10 ? "%.2f" : "%.1f", seconds);
  return text;
}

std::string WindowsBaseName(const std::string& path) {
  const size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

const ProcessFact* TryFacts::SetupProgram() const {
  const ProcessFact* launcher = Launcher();
  if (launcher == nullptr) return nullptr;
  // The launcher's own child of that name; else one of that name; else its first child.
  const ProcessFact* named = nullptr;
  const ProcessFact* child = nullptr;
  for (const ProcessFact& process : processes) {
    if (&process == launcher) continue;
    std::string name = WindowsBaseName(process.image);
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    const bool ours = process.parent == launcher->pid;
    if (name == "kesmarsetup.exe" && ours) return &process;
    if (name == "kesmarsetup.exe" && named == nullptr) named = &process;
    if (ours && child == nullptr) child = &process;
  }
  return named != nullptr ? named : child;
}

std::string CrashStatus(uint32_t code) {
  static const struct {
    uint32_t code;
    const char* name;
  } kStatuses[] = {
      {0x80000002, "misaligned data"},
      {0x80000003, "breakpoint"},
      {0x80000004, "single step"},
      {0xC0000005, "access violation"},
      {0xC0000006, "in-page error"},
      {0xC000001D, "illegal instruction"},
      {0xC0000025, "noncontinuable exception"},
      {0xC0000026, "invalid disposition"},
      {0xC000008C, "array bounds exceeded"},
      {0xC000008D, "floating-point denormal operand"},
      {0xC000008E, "floating-point division by zero"},
      {0xC000008F, "floating-point inexact result"},
      {0xC0000090, "floating-point invalid operation"},
      {0xC0000091, "floating-point overflow"},
      {0xC0000092, "floating-point stack check"},
      {0xC0000093, "floating-point underflow"},
      {0xC0000094, "integer division by zero"},
      {0xC0000095, "integer overflow"},
      {0xC0000096, "privileged instruction"},
      {0xC00000FD, "stack overflow"},
      {0xC0000135, "a DLL was not found"},
      {0xC0000139, "an entry point was not found"},
      {0xC0000142, "a DLL failed to initialise"},
      {0xC0000374, "heap corruption"},
      {0xC0000409, "stack buffer overrun"},
      {0xC0000417, "invalid C runtime parameter"},
      {0xC0000420, "assertion failure"},
      {0xE06D7363, "C++ exception not caught"},
  };
  // Every status of error severity counts; the warnings above are the exceptions a debugger raises.
  const char* name = nullptr;
  for (const auto& status : kStatuses) {
    if (status.code == code) name = status.name;
  }
  if (name == nullptr && code < 0xC0000000u) return "";
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%08X", code);
  return std::string(hex) + " " + (name != nullptr ? name : "exception");
}

std::vector<std::string> TryFailureReasons(const TryFacts& facts) {
  std::vector<std::string> why;
  if (!facts.problem.empty()) why.push_back(facts.problem);
  if (facts.refused) return why;
  if (!facts.isLauncher) why.push_back("it is no launcher: it carries no launcher payload (run with --any)");
  const ProcessFact* launcher = facts.Launcher();
  const ProcessFact* setup = facts.SetupProgram();
  bool ended = false;
  if (!facts.started) {
    why.push_back("the launcher did not start");
  } else if (launcher == nullptr) {
    why.push_back("nothing was seen of the launcher");
  } else if (facts.reachedLimit) {
    why.push_back("the time limit was reached");
  } else if (launcher->endMs < 0) {
    why.push_back("the launcher did not end");
  } else if (!launcher->hasExitCode) {
    why.push_back("the launcher's exit code is not known");
  } else if (CrashStatus(launcher->exitCode).empty() && launcher->exitCode != 0) {
    why.push_back("the launcher's exit code was " + ShownExitCode(launcher->exitCode));
  } else {
    ended = true;
  }
  if (ended && facts.isLauncher) {
    if (setup == nullptr) {
      why.push_back("its setup program was not started");
    } else if (setup->endMs < 0) {
      why.push_back("its setup program did not end");
    } else if (!setup->hasExitCode) {
      why.push_back("its setup program's exit code is not known");
    } else if (CrashStatus(setup->exitCode).empty() && setup->exitCode != 0) {
      why.push_back("its setup program's exit code was " + ShownExitCode(setup->exitCode));
    }
  }
  for (const ProcessFact& process : facts.processes) {
    if (process.hasExitCode && !CrashStatus(process.exitCode).empty()) {
      why.push_back(ProcessName(process) + " crashed: " + CrashStatus(process.exitCode));
    }
  }
  if (facts.started && !facts.changesKnown) why.push_back("the prefix could not be compared");
  if (!facts.leftInTemp.empty()) why.push_back("it left files in the temporary folder");
  return why;
}

int TryExitCode(const TryFacts& facts) { return TryFailureReasons(facts).empty() ? 0 : 1; }

std::string FormatTryReport(const TryFacts& facts) {
  std::string report = "kesmar-pack try: " + PrintableName(facts.launcher) + "\n";
  if (!facts.isLauncher) report += Label("file") + "no launcher: it carries no launcher payload; run as --any asked\n";
  report += Label("wine") + (facts.wine.empty() ? "version unknown" : PrintableName(facts.wine)) +
            ", a new prefix ready after " +
            ShownSeconds(facts.prepareSeconds) + " s" + (facts.templateMade ? " (its template made and kept)" : "") +
            "\n";
  report += Label("sandbox") +
            (!facts.isolated ? "none (--no-sandbox): the run was not isolated from this machine"
             : facts.network ? "bubblewrap, with this machine's network (--network)"
                             : "bubblewrap: the host read-only, no network") +
            "\n";
  report += Label("launcher") + LauncherLine(facts) + "\n";
  if (facts.started) {
    if (facts.extractionFolder.empty()) {
      report += Label("extracted") + "no folder was made in " + PrintableName(facts.tempFolder) + "\n";
    } else {
      std::vector<std::string> files;
      for (const ExtractedFile& file : facts.extracted) {
        const std::string size = file.size >= 0 ? " (" + std::to_string(file.size) + " bytes)" : "";
        files.push_back(PrintableName(file.name) + size);
      }
      const std::string folder = PrintableName(facts.extractionFolder) + ": ";
      if (files.size() <= kFilesOnALine) {
        std::string line;
        for (const std::string& file : files) line += (line.empty() ? "" : ", ") + file;
        report += Label("extracted") + folder + (line.empty() ? "no file" : line) + "\n";
      } else {
        report += Label("extracted") + folder + std::to_string(files.size()) + " files\n";
        AddList(files, &report);
      }
    }
    std::vector<std::string> fonts = facts.fonts.files;
    for (const std::string& entry : facts.fonts.profileEntries) fonts.push_back("win.ini [fonts] " + entry);
    for (const std::string& entry : facts.fonts.registryEntries) fonts.push_back(entry);
    for (std::string& line : fonts) line = PrintableName(line);
    report += Label("fonts") + (fonts.empty() ? "none installed" : fonts.front()) + "\n";
    if (fonts.size() > 1) AddList(std::vector<std::string>(fonts.begin() + 1, fonts.end()), &report);
    report += Label("setup program") + SetupLine(facts) + "\n";
    for (const ProcessFact& process : facts.processes) {
      if (&process == facts.Launcher() || &process == facts.SetupProgram()) continue;
      report += Label("also started") + RunLine(facts, process, "") + "\n";
    }
    if (facts.reachedLimit) {
      std::vector<std::string> windows;
      for (const WindowFact& window : facts.windows) {
        std::string owner;
        for (const ProcessFact& process : facts.processes) {
          if (process.pid == window.pid) owner = " (" + ProcessName(process) + ")";
        }
        windows.push_back(Quoted(window.title) + owner);
      }
      report += Label("windows") + (windows.empty() ? "none visible" : windows.front()) + "\n";
      if (windows.size() > 1) AddList(std::vector<std::string>(windows.begin() + 1, windows.end()), &report);
    }
  }
  if (!facts.screenshot.empty() || !facts.screenshotNote.empty()) {
    report += Label("screenshot") + PrintableName(facts.screenshot.empty() ? facts.screenshotNote : facts.screenshot) +
              "\n";
  }
  if (facts.started) {
    report += Label("changes") + ChangeSummary(facts) + "\n";
    AddList(ChangeLines(facts), &report);
    std::vector<std::string> left;
    for (const std::string& path : facts.leftInTemp) left.push_back(PrintableName(path));
    const std::string first = !facts.changesKnown ? "not known" : left.empty() ? "nothing" : left.front();
    report += Label("left in temp") + first + "\n";
    if (left.size() > 1) AddList(std::vector<std::string>(left.begin() + 1, left.end()), &report);
  }
  if (!facts.keptPrefix.empty()) report += Label("prefix kept") + PrintableName(facts.keptPrefix) + "\n";
  report += Label("result") + Verdict(facts) + "\n";
  return report;
}

}  // namespace kesmar
