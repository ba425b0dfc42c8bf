// The loop of a watched run: polling kesmar-try-watch.exe's output, the inotify watch and the deadline.
#include "kesmar_pack/try/try_run.h"

#include <poll.h>
#include <unistd.h>

#include "kesmar_pack/commands/payload_file.h"
#include "kesmar_pack/try/file_tree.h"
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

}  // namespace

void RunWatched(const WatchedRun& run, TryFacts* facts) {
  ChildOptions options;
  options.argv = {"wine", run.watchProgram, WindowsPathOf(run.launcher)};
  options.environment = WineEnvironment(run.setting);
  options.pipeInput = options.pipeOutput = options.pipeErrors = true;
  ChildProcess watch;
  std::string problem;
  if (!watch.Start(options, &problem)) {
    facts->problem = problem;
    return;
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
  watch.Kill();
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
}

}  // namespace kesmar
