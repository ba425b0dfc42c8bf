// Reading kesmar-try-watch.exe's lines: tab-separated fields, times in milliseconds since the launcher was created.
#include "kesmar_pack/try/watcher/watch_protocol.h"

#include <cstdlib>
#include <vector>

namespace kesmar {
namespace {

// The fields of a line; the last takes the rest, tabs and all.
std::vector<std::string> Fields(const std::string& line, size_t count) {
  std::vector<std::string> fields;
  size_t start = 0;
  while (fields.size() + 1 < count) {
    const size_t tab = line.find('\t', start);
    if (tab == std::string::npos) break;
    fields.push_back(line.substr(start, tab - start));
    start = tab + 1;
  }
  fields.push_back(line.substr(start));
  return fields;
}

bool Number(const std::string& text, long long* value) {
  if (text.empty() || text.size() > 18) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  *value = std::atoll(text.c_str());
  return true;
}

ProcessFact* Find(TryFacts* facts, long long pid) {
  // The latest of that number: Windows may give a number again once its process has gone.
  for (auto it = facts->processes.rbegin(); it != facts->processes.rend(); ++it) {
    if (it->pid == uint32_t(pid)) return &*it;
  }
  return nullptr;
}

}  // namespace

WatchEvent ApplyWatchLine(const std::string& line, TryFacts* facts) {
  const std::string kind = line.substr(0, line.find('\t'));
  long long a = 0, b = 0, c = 0;
  // Each line comes in its turn: the temporary folder once and first, the
  // launcher's start once, a process's facts after its own line, nothing
  // after the end.
  if (facts->watchEnded) return WatchEvent::kUnknown;
  if (kind != "temp" && facts->tempFolder.empty()) return WatchEvent::kUnknown;
  if (kind == "temp") {
    const auto fields = Fields(line, 2);
    if (fields.size() != 2 || fields[1].empty() || !facts->tempFolder.empty()) return WatchEvent::kUnknown;
    facts->tempFolder = fields[1];
    return WatchEvent::kTemp;
  }
  if (kind == "start") {
    const auto fields = Fields(line, 2);
    if (fields.size() != 2 || !Number(fields[1], &a) || facts->started) return WatchEvent::kUnknown;
    facts->started = true;
    return WatchEvent::kFact;
  }
  if (kind == "process") {
    const auto fields = Fields(line, 4);
    if (fields.size() != 4 || !Number(fields[1], &a) || !Number(fields[2], &b) || !Number(fields[3], &c) ||
        !facts->started) {
      return WatchEvent::kUnknown;
    }
    // A number is given again only once its process has ended.
    const ProcessFact* known = Find(facts, b);
    if (known != nullptr && known->endMs < 0) return WatchEvent::kUnknown;
    ProcessFact process;
    process.startMs = a;
    process.pid = uint32_t(b);
    process.parent = uint32_t(c);
    facts->processes.push_back(process);
    return WatchEvent::kFact;
  }
  if (kind == "image") {
    const auto fields = Fields(line, 3);
    ProcessFact* process = fields.size() == 3 && Number(fields[1], &a) ? Find(facts, a) : nullptr;
    if (process == nullptr || !process->image.empty() || fields[2].empty()) return WatchEvent::kUnknown;
    process->image = fields[2];
    return WatchEvent::kFact;
  }
  if (kind == "exit") {
    const auto fields = Fields(line, 4);
    ProcessFact* process =
        fields.size() == 4 && Number(fields[1], &a) && Number(fields[2], &b) ? Find(facts, b) : nullptr;
    if (process == nullptr || process->endMs >= 0 || (fields[3] != "-" && !Number(fields[3], &c)) ||
        c > 0xFFFFFFFFll) {
      return WatchEvent::kUnknown;
    }
    process->endMs = a;
    process->hasExitCode = fields[3] != "-";
    process->exitCode = uint32_t(c);
    return WatchEvent::kFact;
  }
  if (kind == "limit") {
    const auto fields = Fields(line, 2);
    if (fields.size() != 2 || !Number(fields[1], &a) || facts->reachedLimit) return WatchEvent::kUnknown;
    facts->reachedLimit = true;
    return WatchEvent::kFact;
  }
  if (kind == "running") {
    const auto fields = Fields(line, 2);
    if (fields.size() != 2 || !Number(fields[1], &a) || !facts->reachedLimit) return WatchEvent::kUnknown;
    return WatchEvent::kFact;
  }
  if (kind == "window") {
    const auto fields = Fields(line, 3);
    if (fields.size() != 3 || !Number(fields[1], &a) || !facts->reachedLimit) return WatchEvent::kUnknown;
    facts->windows.push_back({uint32_t(a), fields[2]});
    return WatchEvent::kFact;
  }
  if (kind == "shot") return line == "shot" && facts->reachedLimit ? WatchEvent::kShot : WatchEvent::kUnknown;
  if (kind == "done") {
    const auto fields = Fields(line, 3);
    if (fields.size() != 3 || !Number(fields[1], &a) || !facts->started) return WatchEvent::kUnknown;
    facts->watchEnded = true;
    return WatchEvent::kDone;
  }
  if (kind == "fail") {
    const auto fields = Fields(line, 3);
    if (fields.size() != 3 || facts->started) return WatchEvent::kUnknown;
    facts->startProblem = fields[2].empty() ? "Windows error " + fields[1] : fields[2];
    facts->watchEnded = true;
    return WatchEvent::kFailed;
  }
  return WatchEvent::kUnknown;
}

}  // namespace kesmar
