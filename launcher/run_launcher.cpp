// RunLauncher: window set-up, builder mode, and the normal run's extract, start, wait and clean up.
#include "launcher/run_launcher.h"

#include "builder/build_payload.h"
#include "launcher/cleanup_list.h"
#include "launcher/extract_payload.h"
#include "platform/processes.h"
#include "platform/window.h"

namespace kesmar {
namespace {

// Waits for the setup program, lets go of its handles, and removes what was
// extracted: up to 20 attempts, with a pause before each but the first. The
// cleanup list's destruction makes one more attempt afterwards.
void WaitThenRemove(ProcessApi& processes, ProcessHandle process, ProcessHandle thread,
                    CleanupList& cleanupList) {
  processes.WaitForSingleObject(process);
  processes.CloseHandle(process);
  if (thread != nullptr) processes.CloseHandle(thread);

  int retries = kCleanupAttempts;
  while (!cleanupList.RemoveExtractedFiles()) {
    if (--retries == 0) break;
    processes.Sleep(kCleanupPauseMs);
  }
}

int NormalRun(const Platform& platform, CleanupList& cleanupList) {
  std::string setupPath;
  std::string workFolder;
  if (!ExtractPayload(platform, &setupPath, &workFolder, cleanupList)) return 1;
  if (setupPath.empty()) return 1;

  ProcessApi& processes = *platform.processes;
  StartupData startup;
  startup.useShowWindow = true;
  startup.showWindow = kSwShow;
  ProcessInformation info;
  if (processes.CreateProcessA(setupPath, workFolder, startup, &info)) {
    WaitThenRemove(processes, info.hProcess, info.hThread, cleanupList);
    return 0;
  }

  // CreateProcessA fails for a setup program that asks for elevation; the
  // shell can start it. Its files may only be removed once it has ended, so
  // the fallback needs a process handle to wait for.
  ProcessHandle process = nullptr;
  if (processes.ShellExecuteExA(setupPath, workFolder, &process) && process != nullptr) {
    WaitThenRemove(processes, process, nullptr, cleanupList);
    return 0;
  }
  return 1;
}

}  // namespace

int RunLauncher(const Platform& platform, const std::wstring& argumentText) {
  WindowApi& window = *platform.window;
  const std::wstring title = window.LoadStringW(kTitleStringId, kWindowStringLimit);
  const std::wstring className = window.LoadStringW(kClassStringId, kWindowStringLimit);
  window.RegisterLauncherClass(className);
  // A run without its window has done nothing; reporting that as success
  // would hide it.
  if (!window.CreateLauncherWindow(className, title)) return 1;
  window.HideLauncherWindow();

  CleanupList cleanupList(*platform.files);
  if (argumentText == L"-c") return BuildPayload(*platform.files) ? 0 : 1;
  return NormalRun(platform, cleanupList);
}

}  // namespace kesmar
