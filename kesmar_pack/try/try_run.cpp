// The loop of a watched run: polling kesmar-try-watch.exe's output, the inotify watch and the deadline.
#include "kesmar_pack/try/try_run.h"

#include <poll.h>
#include <unistd.h>

#include "kesmar_pack/try/file_tree.h"
#include "kesmar_pack/try/temp_watch.h"
#include "kesmar_pack/try/watcher/watch_protocol.h"

namespace kesmar {
namespace {

// How long, past the deadline, kesmar-try-watch.exe may take to end the run
// and report before it is killed.
constexpr auto kGrace = std::chrono::seconds(30);

void Say(const ChildProcess& watch, const std::string& line) {
  const std::string text = line + "\n";
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t wrote = ::write(watch.input(), text.data() + done, text.size() - done);
    if (wrote <= 0) return;  // it has gone; its end shows in the loop
    done += size_t(wrote);
  }
}

std::string FirstLine(const std::string& text) {
  const size_t start = text.find_first_not_of("\r\n");
  if (start == std::string::npos) return "";
  return text.substr(start, text.find_first_of("\r\n", start) - start);
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
  bool answered = false, done = false;
  // Acts on every whole line that has come.
  auto take = [&] {
    for (size_t end; (end = output.find('\n')) != std::string::npos; output.erase(0, end + 1)) {
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
        default:
          break;
      }
    }
  };
  int status = 0;
  for (;;) {
    pollfd fds[3] = {{watch.output(), POLLIN, 0}, {watch.errors(), POLLIN, 0}, {temp.fd(), POLLIN, 0}};
    ::poll(fds, temp.fd() >= 0 ? 3 : 2, 50);
    ReadAvailable(watch.output(), &output);
    ReadAvailable(watch.errors(), &errors);
    temp.Read();
    take();
    if (watch.Ended(&status)) {
      ReadAvailable(watch.output(), &output);
      take();
      break;
    }
    if (StopRequested()) {
      facts->problem = "stopped by a signal";
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
  ReadAvailable(watch.errors(), &errors);
  if (!answered && facts->problem.empty()) {
    const std::string said = FirstLine(errors);
    facts->problem = "Wine did not start kesmar-try-watch.exe" + (said.empty() ? "" : ": " + said);
  } else if (!done && facts->problem.empty()) {
    const std::string said = FirstLine(errors);
    facts->problem = "kesmar-try-watch.exe ended before the run did" + (said.empty() ? "" : ": " + said);
  }
}

}  // namespace kesmar
