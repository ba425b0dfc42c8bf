// Starting the setup program, waiting for it, and pausing between cleanup attempts.
#pragma once

#include <cstdint>
#include <string>

namespace kesmar {

using ProcessHandle = void*;  // a process or thread handle; null owns nothing

struct ProcessInformation {
  ProcessHandle hProcess = nullptr;
  ProcessHandle hThread = nullptr;
};

// The start data the setup program gets: a STARTUPINFOA cleared to zero with
// cb set, and these two fields.
struct StartupData {
  bool useShowWindow = false;  // STARTF_USESHOWWINDOW
  int showWindow = 0;          // SW_SHOW is 5
};

constexpr int kSwShow = 5;
constexpr int kSwShowNormal = 1;

class ProcessApi {
 public:
  virtual ~ProcessApi() = default;

  // CreateProcessA with `application` as application name, no command line,
  // no security attributes, no handle inheritance, creation flags 0, the
  // caller's environment and `currentDirectory` as current folder. True when
  // the process started; *info then holds its process and thread handles.
  virtual bool CreateProcessA(const std::string& application, const std::string& currentDirectory,
                              const StartupData& startup, ProcessInformation* info) = 0;
  // Waits without time-out until the process has ended.
  virtual void WaitForSingleObject(ProcessHandle handle) = 0;
  virtual void CloseHandle(ProcessHandle handle) = 0;
  virtual void Sleep(uint32_t milliseconds) = 0;
  // ShellExecuteExA with verb "open", `file`, no parameters, `directory`,
  // SW_SHOWNORMAL, and SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC. True when
  // the call succeeded; *process is then the started process's handle, or
  // null when the shell gave none (the file was handed to a running program).
  virtual bool ShellExecuteExA(const std::string& file, const std::string& directory,
                               ProcessHandle* process) = 0;
};

}  // namespace kesmar
