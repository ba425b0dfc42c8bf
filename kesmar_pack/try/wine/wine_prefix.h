// The machine's Wine for kesmar-pack try: whether it can run a launcher, its environment, paths into a prefix, and stopping it.
#pragma once

#include <string>
#include <vector>

#include "kesmar_pack/try/child_process.h"

namespace kesmar {

// Why this machine cannot run a 32-bit Windows program under Wine, as one
// phrase naming what to install; empty when it can. Looks for wine and
// wineserver, Debian's 32-bit Wine, the 32-bit loader, and runs the loader
// once to see whether the kernel (or an emulator) takes 32-bit programs.
std::string WineSetupProblem();

// kesmar-try-watch.exe, the program that runs the launcher inside the
// prefix: beside the stub that goes with this kesmar-pack. Empty, with the
// places looked at in `looked`, when there is none.
std::string FindTryWatch(std::string* looked);

// How Wine is run in one prefix.
struct WineSetting {
  std::string prefix;   // WINEPREFIX
  std::string home;     // HOME: a folder of the run's own, so that no link in the prefix leads into the user's
  std::string display;  // DISPLAY; empty: none, headless
  std::string authority;  // XAUTHORITY, the screen's cookie; empty: none
};

// The environment for Wine in `setting`: ours, without the display and the
// user's folders, with WINEPREFIX, WINEDEBUG (-all unless set) and
// WINEDLLOVERRIDES (mscoree and mshtml off unless set, and never the menu
// builder, which would write menu entries into the user's desktop).
std::vector<std::string> WineEnvironment(const WineSetting& setting);

// `wine --version`, one line; empty when it does not answer.
std::string WineVersion(TryClock::time_point deadline);

// Ends every process of the prefix and waits for its wineserver to save the
// registry and exit. False when that did not happen in time.
bool StopWine(const WineSetting& setting, TryClock::time_point deadline);

// Removes the folder that Wine keeps for the prefix's wineserver (its lock
// and socket, in /tmp/.wine-<uid>, or in Debian's build in the folder the
// prefix's file "wineserver" names), which stays after the server has
// ended. Call it once the server is gone, before the prefix goes.
void RemoveServerFolder(const std::string& prefix);

// The host path of a Windows path inside `prefix` (C:\users\me\Temp\), by
// the prefix's drive links, each name matched in any letter case as Windows
// does. Empty when the drive is not there.
std::string UnixPathIn(const std::string& prefix, const std::string& windowsPath);

// The Windows name of a host path (Z:\home\me\Setup.exe), by Wine's drive
// Z:, which is the host's root.
std::string WindowsPathOf(const std::string& unixPath);

}  // namespace kesmar
