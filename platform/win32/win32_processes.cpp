// ProcessApi over CreateProcessA, ShellExecuteExA and the wait and sleep calls.

#include "platform/processes.h"
#include "platform/win32/win32_platform.h"
#include "platform/win32/windows_api.h"

namespace kesmar {

bool Win32Processes::CreateProcessA(const std::string& application,
                                    const std::string& currentDirectory,
                                    const StartupData& startup, ProcessInformation* info) {
  STARTUPINFOA startupInfo;
  ZeroMemory(&startupInfo, sizeof startupInfo);
  startupInfo.cb = sizeof startupInfo;
  if (startup.useShowWindow) startupInfo.dwFlags = STARTF_USESHOWWINDOW;
  startupInfo.wShowWindow = WORD(startup.showWindow);
  PROCESS_INFORMATION processInfo;
  ZeroMemory(&processInfo, sizeof processInfo);
  if (!::CreateProcessA(application.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr,
                        currentDirectory.c_str(), &startupInfo, &processInfo)) {
    return false;
  }
  info->hProcess = processInfo.hProcess;
  info->hThread = processInfo.hThread;
  return true;
}

void Win32Processes::WaitForSingleObject(ProcessHandle handle) {
  ::WaitForSingleObject(handle, INFINITE);
}

void Win32Processes::CloseHandle(ProcessHandle handle) { ::CloseHandle(handle); }

void Win32Processes::Sleep(uint32_t milliseconds) { ::Sleep(milliseconds); }

bool Win32Processes::ShellExecuteExA(const std::string& file, const std::string& directory,
                                     ProcessHandle* process) {
  SHELLEXECUTEINFOA info;
  ZeroMemory(&info, sizeof info);
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC;
  info.lpVerb = "open";
  info.lpFile = file.c_str();
  info.lpDirectory = directory.c_str();
  info.nShow = SW_SHOWNORMAL;
  if (!::ShellExecuteExA(&info)) return false;
  *process = info.hProcess;
  return true;
}

}  // namespace kesmar
