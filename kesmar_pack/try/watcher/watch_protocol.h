// The lines that kesmar-try-watch.exe writes from inside the prefix, turned into try's facts.
#pragma once

#include <string>

#include "kesmar_pack/try/report/try_facts.h"

namespace kesmar {

// What a line asks of the tool, besides the facts it adds.
enum class WatchEvent {
  kFact,     // a fact, now in the facts
  kTemp,     // the temporary folder is known (facts.tempFolder): start watching it, then answer
  kShot,     // the time limit came: capture the screen, then answer
  kDone,     // the run is over
  kFailed,   // the launcher could not be started (facts.startProblem)
  kUnknown,  // not a line of the protocol, or not in its turn: a fault of the run, and no fact
};

// Adds the fact of one line (without its line end) to `facts`. A line that
// does not parse, or comes out of its turn (a second temporary folder, an
// exit of a process never started or already ended, anything after "done"),
// changes nothing and gives kUnknown.
WatchEvent ApplyWatchLine(const std::string& line, TryFacts* facts);

}  // namespace kesmar
