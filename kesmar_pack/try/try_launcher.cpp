// kesmar-pack try on Linux: checks, a fresh prefix copied from the template, the watched run, the prefix compared, everything removed.
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "kesmar_pack/try/file_tree.h"
#include "kesmar_pack/commands/launcher_check.h"
#include "kesmar_pack/commands/pack_command.h"
#include "kesmar_pack/commands/pack_input.h"
#include "kesmar_pack/commands/payload_file.h"
#include "kesmar_pack/try/wine/prefix_template.h"
#include "kesmar_pack/try/try_command.h"
#include "kesmar_pack/try/report/try_report.h"
#include "kesmar_pack/try/try_run.h"
#include "kesmar_pack/try/screen/virtual_screen.h"
#include "kesmar_pack/try/wine/wine_prefix.h"
#include "kesmar_pack/try/sandbox.h"
#include "kesmar_pack/try/work_folder.h"

namespace kesmar {
namespace {

double SecondsSince(TryClock::time_point start) {
  return std::chrono::duration<double>(TryClock::now() - start).count();
}

// What try finds before anything is run: a file that is no Windows program
// or carries no launcher payload (unless --any), outputs that cannot be
// written, a --keep folder that is there already, and what the machine
// lacks. One phrase, or empty; `isLauncher` is false for a program run with --any.
std::string RequestProblem(const TryRequest& request, bool* isLauncher) {
  std::vector<uint8_t> bytes;
  std::string problem;
  if (!ReadFileBytes(request.launcher, &bytes, &problem)) return request.launcher + ": " + problem;
  problem = SetupProgramProblem(bytes.data(), uint32_t(bytes.size()));
  if (!problem.empty()) {
    // The check is the one for a payload's setup program; here it is the launcher.
    const std::string prefix = "KesmarSetup.exe is ";
    if (problem.compare(0, prefix.size(), prefix) == 0) problem = "it is " + problem.substr(prefix.size());
    return request.launcher + ": " + problem + "; nothing was run";
  }
  // In verify's words; --any runs such a program all the same, and it cannot pass.
  problem = NoLauncherPayload(bytes.data(), bytes.size());
  *isLauncher = problem.empty();
  if (!problem.empty() && !request.any) {
    return request.launcher + ": " + problem + "; nothing was run (--any runs it all the same)";
  }
  for (const std::string* output : {&request.json, &request.screenshot}) {
    if (output->empty()) continue;
    problem = OutputPathProblem(*output);
    if (!problem.empty()) return *output + ": " + problem;
  }
  if (!request.keep.empty()) {
    struct stat st;
    if (::lstat(request.keep.c_str(), &st) == 0) return request.keep + ": is there already; --keep makes a new folder";
    std::string keep = request.keep;
    while (keep.size() > 1 && keep.back() == '/') keep.pop_back();
    const size_t slash = keep.rfind('/');
    const std::string parent = slash == std::string::npos ? "." : slash == 0 ? "/" : keep.substr(0, slash);
    if (::stat(parent.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return request.keep + ": its folder is not there";
  }
  problem = WineSetupProblem();
  if (problem.empty() && !request.screenshot.empty()) problem = ScreenshotProblem();
  if (problem.empty() && !request.noSandbox) problem = SandboxProblem();
  return problem;
}

// Writes --json's file, if one was asked for; false, said on `err`, when that failed.
bool WriteJson(const TryRequest& request, const TryFacts& facts, std::ostream& err) {
  std::string problem;
  if (request.json.empty() || WriteOutputFile(request.json, FormatTryJson(facts), &problem)) return true;
  err << "kesmar-pack try: " << PrintableName(problem) << '\n';
  return false;
}

// try ends before its report: one line on `err`, and the JSON.
int EndEarly(const TryRequest& request, TryFacts* facts, const std::string& problem, std::ostream& err) {
  err << "kesmar-pack try: " << PrintableName(problem) << '\n';
  facts->problem = problem;
  facts->refused = !facts->started;
  // Not where the path itself was refused.
  if (OutputPathProblem(request.json).empty()) WriteJson(request, *facts, err);
  return kToolFailed;
}

// The prefix's state that a run is compared against.
struct PrefixState {
  FileTree files;
  RegistryTree registry;
  std::string winIni;
};

bool ReadState(const std::string& prefix, PrefixState* state, std::string* problem) {
  if (!SnapshotFiles(prefix + "/drive_c", &state->files, problem)) return false;
  const std::pair<const char*, const char*> hives[] = {
      {"system.reg", kMachineRoot}, {"user.reg", kUserRoot}, {"userdef.reg", kDefaultUserRoot}};
  state->registry.clear();
  for (const auto& hive : hives) {
    std::string text;
    if (!ReadWholeFile(prefix + "/" + hive.first, &text)) {
      *problem = "cannot read " + prefix + "/" + hive.first;
      return false;
    }
    ParseWineRegistry(text, hive.second, &state->registry);
  }
  state->winIni.clear();
  ReadWholeFile(prefix + "/drive_c/windows/win.ini", &state->winIni);
  return true;
}

// With a screen, Wine draws on it, in a desktop window of its own, so that
// the screenshot shows the windows with their frames and titles.
bool UseScreen(const std::string& prefix, std::string* problem) {
  std::string text;
  const std::string path = prefix + "/user.reg";
  if (!ReadWholeFile(path, &text)) {
    *problem = "cannot read " + path;
    return false;
  }
  text = SetWineRegistryValue(text, "Software\\Wine\\Drivers", "Graphics", "\"x11\"");
  text = SetWineRegistryValue(text, "Software\\Wine\\Explorer", "Desktop", "\"Default\"");
  text = SetWineRegistryValue(text, "Software\\Wine\\Explorer\\Desktops", "Default", "\"1024x768\"");
  return WriteOutputFile(path, text, problem);
}

// What differs between `before` and the prefix now, less Wine's own churn,
// with the temporary folder and the fonts picked out.
void Compare(const PrefixState& before, const PrefixState& after, const std::string& prefix,
             const PrefixTemplate& pristine, TryFacts* facts) {
  const SameContent sameContent = [&](const std::string& path) {
    // The copy was made from the template: a file of the template that is as
    // it was then holds what the copy held before the run.
    const std::string original = pristine.prefix() + "/drive_c/" + path;
    struct stat st;
    const auto old = before.files.find(path);
    return old != before.files.end() && ::lstat(original.c_str(), &st) == 0 &&
           uint64_t(st.st_size) == old->second.size &&
           int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec == old->second.modified &&
           SameFileContent(original, prefix + "/drive_c/" + path);
  };
  facts->files = CompareFiles(before.files, after.files, sameContent);
  facts->registry = CompareRegistry(before.registry, after.registry);
  LeaveOutChurn(pristine.churn(), &facts->files, &facts->registry);
  char driveC[PATH_MAX], temp[PATH_MAX];
  const std::string tempPath = UnixPathIn(prefix, facts->tempFolder);
  if (::realpath((prefix + "/drive_c").c_str(), driveC) != nullptr && ::realpath(tempPath.c_str(), temp) != nullptr &&
      std::strncmp(temp, driveC, std::strlen(driveC)) == 0 && temp[std::strlen(driveC)] == '/') {
    for (std::string path : TakeFolder(temp + std::strlen(driveC) + 1, &facts->files)) {
      for (char& c : path) c = c == '/' ? '\\' : c;
      facts->leftInTemp.push_back(path);
    }
  }
  facts->fonts = FindFontChanges(facts->files, facts->registry, before.winIni, after.winIni);
  facts->changesKnown = true;
}

// A fresh prefix for the run, copied from the template, and its state before the run.
bool PreparePrefix(const TryRequest& request, const WineSetting& setting, const TemplateRequest& templateRequest,
                   const std::string& files, const SandboxPlan* sandbox, TryClock::time_point deadline,
                   PrefixTemplate* pristine, VirtualScreen* screen, PrefixState* before, std::string* problem) {
  if (!pristine->Ready(templateRequest, deadline, problem)) return false;
  if (StopRequested()) {
    *problem = "stopped by a signal";
    return false;
  }
  if (!CopyTree(pristine->prefix(), setting.prefix, problem)) return false;
  // The copy gets a wineserver folder of its own (Debian's build names it in this file).
  ::unlink((setting.prefix + "/wineserver").c_str());
  // Drive Z: stays the root, as in the template: in the sandbox that is the
  // sandbox's root (the host read-only, the user's folders hidden), which
  // Wine's \\?\unix\ paths reach whatever Z: is. Pointed elsewhere, it
  // would make Wine drop the system fonts it registered by their Z: paths,
  // and every run's report list that.
  if (::mkdir(setting.home.c_str(), 0700) != 0) {
    *problem = "cannot make " + setting.home + " (" + std::strerror(errno) + ")";
    return false;
  }
  if (StopRequested()) {
    *problem = "stopped by a signal";
    return false;
  }
  if (!request.screenshot.empty() &&
      (!UseScreen(setting.prefix, problem) || !screen->Start(deadline, sandbox, files, problem))) {
    return false;
  }
  return ReadState(setting.prefix, before, problem);
}

}  // namespace

int TryLauncher(const TryRequest& request, std::ostream& out, std::ostream& err) {
  const TryClock::time_point start = TryClock::now();
  const TryClock::time_point deadline = start + std::chrono::seconds(request.timeLimit);
  TryFacts facts;
  facts.launcher = request.launcher;
  facts.timeLimit = request.timeLimit;
  std::string problem = RequestProblem(request, &facts.isLauncher);
  if (!problem.empty()) return EndEarly(request, &facts, problem, err);
  StopSignals stopSignals;
  WorkFolder work;
  std::string watchProgram;
  if (!work.Make(&problem)) return EndEarly(request, &facts, problem, err);
  if ((watchProgram = FindTryWatch(&problem)).empty()) {
    return EndEarly(request, &facts, "kesmar-try-watch.exe not found (looked for " + problem + "); reinstall kesmar-pack",
                    err);
  }
  facts.wine = WineVersion(deadline);
  facts.isolated = !request.noSandbox;
  facts.network = request.network && facts.isolated;
  // What the run may read of ours: the launcher and the watcher, Z:\ to Wine.
  const std::string files = work.path() + "/files";
  char launcherPath[PATH_MAX];
  const std::string launcherName =
      ::realpath(request.launcher.c_str(), launcherPath) != nullptr ? launcherPath : request.launcher;
  const std::string launcherBase = launcherName.substr(launcherName.rfind('/') + 1);
  if ((!request.noSandbox && (!CopyTree(launcherName, files + "/" + launcherBase, &problem) ||
                               !CopyTree(watchProgram, files + "/kesmar-try-watch.exe", &problem))) ||
      ::mkdir((work.path() + "/screen").c_str(), 0700) != 0) {
    return EndEarly(request, &facts, problem.empty() ? "cannot make " + work.path() + "/screen" : problem, err);
  }

  PrefixTemplate pristine;
  TemplateRequest templateRequest;
  templateRequest.watchProgram = watchProgram;
  templateRequest.wineVersion = facts.wine;
  templateRequest.workFolder = work.path();
  WineSetting setting;
  // Wine takes an absolute WINEPREFIX only.
  std::string keep = request.keep;
  char here[PATH_MAX];
  if (!keep.empty() && keep[0] != '/' && ::getcwd(here, sizeof here) != nullptr) keep = std::string(here) + "/" + keep;
  setting.prefix = keep.empty() ? work.path() + "/prefix" : keep;
  setting.home = work.path() + "/home";
  // The sandbox: the prefix, its home and the screen's dump the only folders it writes.
  SandboxPlan sandbox;
  sandbox.tmp = work.path() + "/tmp";
  sandbox.writable = {setting.prefix, setting.home, work.path() + "/screen"};
  sandbox.readOnly = {files};
  sandbox.hidden = HiddenFolders();
  ShowProgramFolders({FindInPath("wine"), FindInPath("wineserver")}, &sandbox);
  sandbox.folder = setting.home;
  sandbox.network = request.network;
  const SandboxPlan* confined = request.noSandbox ? nullptr : &sandbox;
  VirtualScreen screen;
  PrefixState before;
  if (!PreparePrefix(request, setting, templateRequest, files, confined, deadline, &pristine, &screen, &before,
                     &problem)) {
    std::string ignored;
    if (!keep.empty()) RemoveTree(keep, &ignored);
    if (TryClock::now() >= deadline) {
      facts.reachedLimit = true;
      problem += " (the time limit of " + std::to_string(request.timeLimit) + " s ran out)";
    }
    facts.prepareSeconds = facts.totalSeconds = SecondsSince(start);
    return EndEarly(request, &facts, problem, err);
  }
  facts.templateMade = pristine.made();
  facts.prepareSeconds = SecondsSince(start);
  setting.display = screen.display();
  setting.authority = screen.authority();

  WatchedRun run;
  run.setting = setting;
  // In the sandbox, the copies in the run's folder: the launcher may lie in a hidden folder.
  run.watchProgram = confined != nullptr ? files + "/kesmar-try-watch.exe" : watchProgram;
  run.launcher = WindowsPathOf(confined != nullptr ? files + "/" + launcherBase : launcherName);
  run.workFolder = work.path() + "/screen";
  run.screenshot = request.screenshot;
  run.screen = request.screenshot.empty() ? nullptr : &screen;
  run.deadline = deadline;
  run.sandbox = confined;
  const RunEnd end = RunWatched(run, &facts);
  if (!request.screenshot.empty() && !facts.reachedLimit && facts.screenshotNote.empty()) {
    facts.screenshotNote = "none: the run ended before the time limit";
  }

  // In a sandbox Wine has stopped with it; without one it is stopped now.
  const bool stopped =
      end == RunEnd::kWineRunning ? StopWine(setting, TryClock::now() + std::chrono::seconds(30)) : end == RunEnd::kStopped;
  // A prefix under a process that still runs is not removed but kept, and named.
  const bool left = end == RunEnd::kLeftRunning || (end == RunEnd::kWineRunning && !stopped);
  screen.Stop();
  PrefixState after;
  if (!stopped) {
    facts.problem = end == RunEnd::kKilled
                        ? "Wine did not stop within 30 s; its sandbox was ended with everything in it"
                        : "Wine did not stop within 30 s; its processes were left running";
  } else if (!ReadState(setting.prefix, &after, &problem)) {
    facts.problem = problem;
  } else if (facts.started) {
    Compare(before, after, setting.prefix, pristine, &facts);
  }
  if (stopped) RemoveServerFolder(setting.prefix);
  if (!keep.empty()) {
    facts.keptPrefix = keep;
  } else if (left) {
    work.Keep();
    facts.keptPrefix = setting.prefix;
    facts.problem += "; the prefix was kept, not removed under them";
  } else if (!RemoveTree(setting.prefix, &problem) && facts.problem.empty()) {
    facts.problem = problem;
  }
  facts.totalSeconds = SecondsSince(start);

  out << FormatTryReport(facts);
  out.flush();
  return WriteJson(request, facts, err) ? TryExitCode(facts) : kToolFailed;
}

}  // namespace kesmar
