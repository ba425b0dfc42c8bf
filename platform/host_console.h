// The command line and the console of a host tool, on Linux and on Windows.
#pragma once

#include <string>
#include <vector>

namespace kesmar {

// The program's arguments, its own name left out, in UTF-8. Linux passes
// them in `argv` as they are; on Windows they are read from the UTF-16
// command line, which holds every name exactly.
std::vector<std::string> HostArguments(int argc, char** argv);

// True when standard error is a terminal or a console window, where a
// progress line may be drawn.
bool StderrIsTerminal();

// The system the tool is built for, as its help names it: "Linux" or "Windows".
extern const char kHostSystem[];

// True where a program splits its command line itself (Windows): a "\" before
// a closing quote then escapes it, and the quote ends up in the argument.
extern const bool kHostSplitsCommandLine;

// Makes std::cout and std::cerr show UTF-8 text correctly wherever they go.
// On Linux nothing is needed. On Windows a console is written in UTF-16
// (WriteConsoleW), whatever its code page; a file or a pipe gets the UTF-8
// bytes as they are.
void UseConsoleText();

}  // namespace kesmar
