// kesmar-pack try's facts as JSON, for a CI job to read.
#include <cstdio>

#include "kesmar_pack/commands/payload_file.h"
#include "kesmar_pack/try/report/try_report.h"

namespace kesmar {
namespace {

// A JSON string. Bytes that are no UTF-8, and control characters, come as
// the text \xNN (as the report shows them), so the output is always valid.
std::string Text(const std::string& value) {
  std::string json = "\"";
  for (char c : PrintableName(value)) {
    if (c == '"' || c == '\\') json += '\\';
    json += c;
  }
  return json + "\"";
}

std::string Seconds(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", seconds);
  return text;
}

std::string Bool(bool value) { return value ? "true" : "false"; }

std::string List(const std::vector<std::string>& items) {
  std::string json = "[";
  for (size_t i = 0; i < items.size(); ++i) json += (i ? ", " : "") + items[i];
  return json + "]";
}

std::string Texts(const std::vector<std::string>& values) {
  std::vector<std::string> items;
  for (const std::string& value : values) items.push_back(Text(value));
  return List(items);
}

std::string Paths(const std::vector<std::string>& relative) {
  std::vector<std::string> items;
  for (const std::string& path : relative) items.push_back(Text(DriveCPath(path)));
  return List(items);
}

std::string Process(const ProcessFact& process) {
  return "{\"image\": " + (process.image.empty() ? "null" : Text(process.image)) +
         ", \"pid\": " + std::to_string(process.pid) + ", \"parentPid\": " + std::to_string(process.parent) +
         ", \"startSeconds\": " + Seconds(double(process.startMs) / 1000) +
         ", \"seconds\": " + (process.endMs < 0 ? "null" : Seconds(double(process.endMs - process.startMs) / 1000)) +
         ", \"runningAtLimit\": " + Bool(process.endMs < 0) +
         ", \"exitCode\": " + (process.hasExitCode ? std::to_string(process.exitCode) : "null") + "}";
}

std::string Registry(const RegistryChanges& registry) {
  std::vector<std::string> added, changed, removed;
  for (const RegistryValueChange& value : registry.values) {
    const std::string head = "{\"key\": " + Text(value.key) + ", \"name\": " + Text(value.name);
    if (value.before.empty()) {
      added.push_back(head + ", \"data\": " + Text(value.after) + "}");
    } else if (value.after.empty()) {
      removed.push_back(head + ", \"data\": " + Text(value.before) + "}");
    } else {
      changed.push_back(head + ", \"before\": " + Text(value.before) + ", \"after\": " + Text(value.after) + "}");
    }
  }
  return "{\"keysAdded\": " + Texts(registry.keysAdded) + ", \"keysRemoved\": " + Texts(registry.keysRemoved) +
         ", \"valuesAdded\": " + List(added) + ", \"valuesChanged\": " + List(changed) +
         ", \"valuesRemoved\": " + List(removed) + "}";
}

}  // namespace

std::string FormatTryJson(const TryFacts& facts) {
  const ProcessFact* launcher = facts.Launcher();
  const ProcessFact* setup = facts.SetupProgram();
  const bool ended = launcher != nullptr && launcher->endMs >= 0;
  std::vector<std::string> extracted, processes, windows;
  for (const ExtractedFile& file : facts.extracted) {
    extracted.push_back("{\"name\": " + Text(file.name) +
                        ", \"size\": " + (file.size < 0 ? "null" : std::to_string(file.size)) + "}");
  }
  for (const ProcessFact& process : facts.processes) processes.push_back(Process(process));
  for (const WindowFact& window : facts.windows) {
    std::string image = "null";
    for (const ProcessFact& process : facts.processes) {
      if (process.pid == window.pid && !process.image.empty()) image = Text(process.image);
    }
    windows.push_back("{\"title\": " + Text(window.title) + ", \"pid\": " + std::to_string(window.pid) +
                      ", \"image\": " + image + "}");
  }
  std::vector<std::string> left;
  for (const std::string& path : facts.leftInTemp) left.push_back(Text(path));
  auto optional = [](const std::string& value) { return value.empty() ? std::string("null") : Text(value); };

  std::string json = "{\n";
  json += "  \"launcher\": " + Text(facts.launcher) + ",\n";
  json += "  \"isLauncher\": " + Bool(facts.isLauncher) + ",\n";
  json += "  \"wine\": " + Text(facts.wine) + ",\n";
  json += "  \"isolated\": " + Bool(facts.isolated) + ",\n";
  json += "  \"network\": " + Bool(facts.network) + ",\n";
  json += "  \"timeLimitSeconds\": " + std::to_string(facts.timeLimit) + ",\n";
  json += "  \"prepareSeconds\": " + Seconds(facts.prepareSeconds) + ",\n";
  json += "  \"totalSeconds\": " + Seconds(facts.totalSeconds) + ",\n";
  json += "  \"started\": " + Bool(facts.started) + ",\n";
  json += "  \"startProblem\": " + optional(facts.startProblem) + ",\n";
  json += "  \"reachedTimeLimit\": " + Bool(facts.reachedLimit) + ",\n";
  json += "  \"exitCode\": " + (ended && launcher->hasExitCode ? std::to_string(launcher->exitCode) : "null") + ",\n";
  json += "  \"seconds\": " + (ended ? Seconds(double(launcher->endMs - launcher->startMs) / 1000) : "null") + ",\n";
  json += "  \"temporaryFolder\": " + optional(facts.tempFolder) + ",\n";
  json += "  \"extractionFolder\": " + optional(facts.extractionFolder) + ",\n";
  json += "  \"extractedFiles\": " + List(extracted) + ",\n";
  json += "  \"fonts\": {\"files\": " + Texts(facts.fonts.files) +
          ", \"profileEntries\": " + Texts(facts.fonts.profileEntries) +
          ", \"registryEntries\": " + Texts(facts.fonts.registryEntries) + "},\n";
  json += "  \"setupProgram\": " + (setup == nullptr ? "null" : Process(*setup)) + ",\n";
  json += "  \"processes\": " + List(processes) + ",\n";
  json += "  \"windows\": " + List(windows) + ",\n";
  json += "  \"changesKnown\": " + Bool(facts.changesKnown) + ",\n";
  json += "  \"files\": {\"created\": " + Paths(facts.files.created) + ", \"changed\": " + Paths(facts.files.changed) +
          ", \"removed\": " + Paths(facts.files.removed) + "},\n";
  json += "  \"registry\": " + Registry(facts.registry) + ",\n";
  json += "  \"leftInTemporaryFolder\": " + List(left) + ",\n";
  json += "  \"screenshot\": " + optional(facts.screenshot) + ",\n";
  json += "  \"keptPrefix\": " + optional(facts.keptPrefix) + ",\n";
  // Every reason for failure, and the same in one line as the report's.
  const std::vector<std::string> problems = TryFailureReasons(facts);
  std::string line;
  for (const std::string& problem : problems) line += (line.empty() ? "" : "; ") + problem;
  json += "  \"problem\": " + optional(line) + ",\n";
  json += "  \"problems\": " + Texts(problems) + ",\n";
  json += "  \"passed\": " + Bool(problems.empty()) + "\n";
  json += "}\n";
  return json;
}

}  // namespace kesmar
