// The rule a record name must meet: a name Windows can create as a plain file inside one folder.
#pragma once

#include <string>

namespace kesmar {

// True when `name` may be a record name: 1 to 254 bytes; no byte below 32 and
// none of \ / : * ? " < > |; not "." or ".."; not ending in a blank or a dot;
// not a reserved device name (CON, PRN, AUX, NUL, COM1-COM9, LPT1-LPT9) in any
// letter case, alone or followed by a dot and more. Both the builder and the
// extraction apply it, so that a payload made anywhere extracts on Windows and
// can never write outside its folder.
bool IsValidRecordName(const std::string& name);

// Why `name` is no record name, as a short phrase ("reserved device name"),
// or null when it is one. The same rule as IsValidRecordName, for tools that
// tell a person what is wrong.
const char* RecordNameProblem(const std::string& name);

// The name as one folder on Windows tells names apart: ASCII letters in
// upper case. Two records whose keys are equal would become one file there,
// the later replacing the earlier.
std::string RecordNameKey(const std::string& name);

}  // namespace kesmar
