// wWinMain: the launcher executable's entry; builds the Win32 platform and runs.
#include "launcher/dll_search.h"
#include "launcher/run_launcher.h"
#include "platform/file_system.h"
#include "platform/fonts.h"
#include "platform/resources.h"
#include "platform/security.h"
#include "platform/win32/win32_platform.h"
#include "platform/win32/windows_api.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR argumentText, int) {
  // Before anything can load a DLL by name: a DLL planted in the launcher's
  // folder must never be picked up. Without the function (Vista or 7 lacking
  // the update) the run goes on with Windows' own search order.
  kesmar::RestrictDllSearchToSystemFolder();
  // Every platform object lives in this frame: nothing of ours outlives the
  // entry, and no exit-time handler is registered.
  auto files = kesmar::CreateNativeFileSystem();
  auto resources = kesmar::CreateNativeResourceApi();
  auto fonts = kesmar::CreateNativeFontApi();
  auto security = kesmar::CreateNativeSecurityApi();
  kesmar::Win32Processes processes;
  kesmar::Win32Window window(instance);
  kesmar::Platform platform;
  platform.files = files.get();
  platform.resources = resources.get();
  platform.fonts = fonts.get();
  platform.processes = &processes;
  platform.window = &window;
  platform.security = security.get();
  return kesmar::RunLauncher(platform, argumentText != nullptr ? argumentText : L"");
}
