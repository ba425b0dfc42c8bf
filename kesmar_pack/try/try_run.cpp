// The loop of a watched run: polling kesmar-try-watch.exe's output, the inotify watch and the deadline.
#include "kesmar_pack/try/try_run.h"

#include <poll.h>
#include <unistd.h>

#include <functional>

#include "kesmar_pack/commands/payload_file.h"
#include "kesmar_pack/try/file_tree.h"
#include "kesmar_pack/try/sandbox.h"
#include "kesmar_pack/try/temp_watch.h"
#include "kesmar_pack/try/watcher/watch_protocol.h"

namespace kesmar {
namespace {

// How long, past the deadline, kesmar-try-watch.exe may take to end the run
// and report before it is killed: it ends the run's processes at the limit
// and waits 5 s at most for them.
constexpr auto kGrace = std::chrono::seconds(15);

// The longest line kesmar-try-watch.exe writes is a path or a title of a few
// hundred characters; what is kept of Wine's messages.
constexpr size_t kLongestLine = 16 * 1024;
constexpr size_t kKeptErrors = 4 * 1024;

void Say(const ChildProcess& watch, const std::string& line) {
  const std::string text = line + "\n";
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t wrote = ::write(watch.input(), text.data() + done, text.size() - done);
    if (wrote <= 0) return;  // it has gone; its end shows in the loop
    done += size_t(wrote);
  }
}

// The first line of what Wine wrote, as text safe to show: processes of the
// run write there too.
std::string FirstLine(const std::string& text) {
  const size_t start = text.find_first_not_of("\r\n");
  if (start == std::string::npos) return "";
  std::string line = PrintableName(text.substr(start, text.find_first_of("\r\n", start) - start));
  return line.size() <= 200 ? line : line.substr(0, 197) + "...";
}

// A line of the channel that does not read, shown short and safe.
std::string Shown(const std::string& line) {
  std::string shown = PrintableName(line);
  return "\"" + (shown.size() <= 80 ? shown : shown.substr(0, 77) + "...") + "\"";
}

// The sandbox's first program: it runs wine with the watcher, on the
// channel's pipes, and then stops Wine in the sandbox so that the prefix is
// saved. A line on descriptor 3 (try's control pipe) ends the watcher
// before its time. Nothing else of it writes to the channel.
constexpr char kSandboxedRun[] =
    "exec 5<&0\n"
    "\"$@\" <&5 5<&- 3<&- 4>&- &\n"
    "run=$!\n"
    "exec 5<&- 4>&-\n"
    "{ read -r _ <&3 && kill -KILL \"$run\"; } >/dev/null 2>&1 &\n"
    "wait \"$run\"\n"
    "code=$?\n"
    "exec 3<&-\n"
    "wineserver -k >/dev/null 2>&1\n"
    "wineserver -w >/dev/null 2>&1\n"
    "exit \"$code\"\n";

// How long Wine may take to stop in the sandbox before it is killed with it.
constexpr auto kStopTime = std::chrono::seconds(30);

// Asks the sandbox to end the watcher, if it runs still, and waits for
// Wine to stop in it; kills the sandbox when that takes too long, and
// checks that nothing of it is left.
RunEnd EndSandbox(ChildProcess* watch, const std::string& info, const std::function<void()>& drain) {
  if (!watch->Ended(nullptr) && watch->control() >= 0) {
    const ssize_t wrote = ::write(watch->control(), "stop\n", 5);
    (void)wrote;
  }
  watch->CloseControl();
  const TryClock::time_point until = TryClock::now() + kStopTime;
  while (!watch->Ended(nullptr) && TryClock::now() < until) {
    drain();
    ::usleep(50000);
  }
  RunEnd end = watch->Ended(nullptr) ? RunEnd::kStopped : RunEnd::kKilled;
  // bubblewrap dies, its init with it, and the kernel ends the rest of the PID namespace.
  watch->Kill();
  const uint64_t pidNamespace = PidNamespaceOf(info);
  if (pidNamespace == 0) return end == RunEnd::kStopped ? end : RunEnd::kLeftRunning;
  for (int i = 0; i < 100 && !ProcessesIn(pidNamespace).empty(); ++i) ::usleep(50000);
  return ProcessesIn(pidNamespace).empty() ? end : RunEnd::kLeftRunning;
}

}  // namespace

RunEnd RunWatched(const WatchedRun& run, TryFacts* facts) {
  ChildOptions options;
  options.argv = {"wine", run.watchProgram, run.launcher};
  options.environment = WineEnvironment(run.setting);
  if (run.sandbox != nullptr) {
    options.argv.insert(options.argv.begin(), {"/bin/sh", "-c", kSandboxedRun, "sh"});
    // Of the caller's variables only those Wine needs go in; /tmp is the sandbox's own.
    std::vector<std::string> own = {"HOME=" + run.setting.home, "TMPDIR=/tmp"};
    if (!run.setting.display.empty()) own.push_back("DISPLAY=" + run.setting.display);
    if (!run.setting.authority.empty()) own.push_back("XAUTHORITY=" + run.setting.authority);
    options.environment = NamedEnvironment(options.environment, own);
    options.sandbox = run.sandbox;
    options.pipeControl = options.pipeInfo = true;
  }
  options.pipeInput = options.pipeOutput = options.pipeErrors = true;
  ChildProcess watch;
  std::string problem, info;
  if (!watch.Start(options, &problem)) {
    facts->problem = problem;
    return run.sandbox != nullptr ? RunEnd::kStopped : RunEnd::kWineRunning;
  }
  TempFolderWatch temp;
  std::string output, errors;
  bool answered = false, done = false, broken = false;
  // A fault of the channel: the run is ended, and its verdict is failed.
  auto fault = [&](const std::string& what) {
    broken = true;
    if (facts->problem.empty()) facts->problem = what;
  };
  // Acts on every whole line that has come.
  auto take = [&] {
    for (size_t end; !broken && (end = output.find('\n')) != std::string::npos; output.erase(0, end + 1)) {
      std::string line = output.substr(0, end);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      switch (ApplyWatchLine(line, facts)) {
        case WatchEvent::kTemp: {
          const auto left =
              std::chrono::duration_cast<std::chrono::milliseconds>(run.deadline - TryClock::now()).count();
          if (left <= 0) {
            facts->reachedLimit = true;
            facts->problem = "the time limit ran out before the launcher could start";
            watch.CloseInput();
            break;
          }
          // Watched before the launcher starts: the folder it makes is seen from its first file.
          const std::string folder = UnixPathIn(run.setting.prefix, facts->tempFolder);
          if (!temp.Start(folder, &problem)) facts->problem = problem;
          Say(watch, "go " + std::to_string(left));
          answered = true;
          break;
        }
        case WatchEvent::kShot:
          if (run.screen != nullptr) {
            std::string png;
            if (!run.screen->Capture(run.workFolder, TryClock::now() + std::chrono::seconds(20), &png, &problem) ||
                !WriteOutputFile(run.screenshot, png, &problem)) {
              facts->screenshotNote = "not saved: " + problem;
            } else {
              facts->screenshot = run.screenshot;
            }
          }
          Say(watch, "end");
          break;
        case WatchEvent::kDone:
        case WatchEvent::kFailed:
          done = true;
          break;
        case WatchEvent::kUnknown:
          fault("kesmar-try-watch.exe wrote a line that is no fact of its own: " + Shown(line));
          break;
        case WatchEvent::kFact:
          break;
      }
    }
    if (!broken && output.size() > kLongestLine) fault("kesmar-try-watch.exe wrote a line too long to be its own");
  };
  auto readErrors = [&] {
    std::string more;
    ReadAvailable(watch.errors(), &more);
    errors += more.substr(0, errors.size() < kKeptErrors ? kKeptErrors - errors.size() : 0);
    // bubblewrap says once which namespaces it made.
    if (watch.info() >= 0 && info.size() < 4096) ReadAvailable(watch.info(), &info);
  };
  int status = 0;
  for (;;) {
    pollfd fds[3] = {{watch.output(), POLLIN, 0}, {watch.errors(), POLLIN, 0}, {temp.fd(), POLLIN, 0}};
    ::poll(fds, temp.fd() >= 0 ? 3 : 2, 50);
    ReadAvailable(watch.output(), &output);
    readErrors();
    temp.Read();
    take();
    if (broken) break;
    if (watch.Ended(&status)) {
      ReadAvailable(watch.output(), &output);
      take();
      if (!broken && !output.empty()) fault("kesmar-try-watch.exe ended in the middle of a line: " + Shown(output));
      break;
    }
    if (StopRequested()) {
      facts->problem = "stopped by a signal";
      break;
    }
    if (!answered && TryClock::now() > run.deadline) {
      facts->reachedLimit = true;
      facts->problem = "kesmar-try-watch.exe did not say where the temporary folder is within the time limit" +
                       std::string(errors.empty() ? "" : "; Wine said: " + FirstLine(errors));
      break;
    }
    if (TryClock::now() > run.deadline + kGrace) {
      facts->reachedLimit = true;
      facts->problem = "Wine did not end the run within " +
                       std::to_string(std::chrono::duration_cast<std::chrono::seconds>(kGrace).count()) +
                       " s of the time limit";
      break;
    }
  }
  RunEnd end = RunEnd::kWineRunning;
  if (run.sandbox == nullptr) {
    watch.Kill();
  } else {
    // What comes on the channel now is read and dropped: the watcher has had its say.
    std::string late;
    end = EndSandbox(&watch, info, [&] {
      ReadAvailable(watch.output(), &late);
      late.clear();
      readErrors();
      temp.Read();
    });
  }
  temp.Read();
  temp.Finish();
  if (!temp.extractionFolder().empty()) {
    facts->extractionFolder = facts->tempFolder + (facts->tempFolder.back() == '\\' ? "" : "\\") +
                              temp.extractionFolder();
    facts->extracted = temp.files();
  }
  readErrors();
  if (!answered && facts->problem.empty()) {
    const std::string said = FirstLine(errors);
    facts->problem = "Wine did not start kesmar-try-watch.exe" + (said.empty() ? "" : ": " + said);
  } else if (!done && facts->problem.empty()) {
    const std::string said = FirstLine(errors);
    facts->problem = "kesmar-try-watch.exe ended before the run did" + (said.empty() ? "" : ": " + said);
  }
  return end;
}

}  // namespace kesmar
