// The launcher's whole run, from the hidden window to the exit code.
#pragma once

#include <string>

#include "platform/platform.h"

namespace kesmar {

constexpr unsigned kTitleStringId = 103;
constexpr unsigned kClassStringId = 109;
constexpr int kWindowStringLimit = 100;
constexpr int kCleanupAttempts = 20;
constexpr unsigned kCleanupPauseMs = 100;

// Runs the launcher for `argumentText` (the command line less the program's
// name): builder mode for exactly "-c", the normal run otherwise. Returns the
// process exit code, 0 or 1.
int RunLauncher(const Platform& platform, const std::wstring& argumentText);

}  // namespace kesmar
