// Fuzz target: kesmar-try-watch.exe's lines as try reads them, then the verdict, the report and the JSON made of them.
#include <cstdlib>
#include <string>

#include "kesmar_pack/try/report/try_report.h"
#include "kesmar_pack/try/watcher/watch_protocol.h"

using namespace kesmar;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  TryFacts facts;
  facts.timeLimit = 30;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const size_t processes = facts.processes.size();
    const bool ended = facts.watchEnded;
    const WatchEvent event = ApplyWatchLine(text.substr(start, end - start), &facts);
    // Nothing is taken after the end, and a line that does not read adds no process.
    if (ended && (event != WatchEvent::kUnknown || facts.processes.size() != processes)) abort();
    if (event == WatchEvent::kUnknown && facts.processes.size() != processes) abort();
    start = end + 1;
  }
  facts.changesKnown = true;
  const bool passed = TryFailureReasons(facts).empty();
  if (passed != (TryExitCode(facts) == 0)) abort();
  // What a run wrote reaches a terminal and a JSON file as text without a control character.
  for (const std::string& out : {FormatTryReport(facts), FormatTryJson(facts)}) {
    for (unsigned char c : out) {
      if ((c < 0x20 && c != '\n') || c == 0x7F) abort();
    }
  }
  const std::string json = FormatTryJson(facts);
  if (json.find(passed ? "\"passed\": true" : "\"passed\": false") == std::string::npos) abort();
  if (!passed && json.find("\"problem\": null") != std::string::npos) abort();
  return 0;
}
