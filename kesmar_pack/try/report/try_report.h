// kesmar-pack try's report: a few lines for a person, and the same facts as JSON.
#pragma once

#include <string>

#include "kesmar_pack/try/report/try_facts.h"

namespace kesmar {

// The report for a terminal: one labelled line per fact, long lists cut
// short (the JSON has them whole).
std::string FormatTryReport(const TryFacts& facts);

// The same facts as one JSON object, UTF-8, ending in a line end.
std::string FormatTryJson(const TryFacts& facts);

// Seconds from milliseconds, as the report shows them: "0.24", "12.3".
std::string ShownSeconds(double seconds);

}  // namespace kesmar
