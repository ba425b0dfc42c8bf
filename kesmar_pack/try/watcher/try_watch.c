/* kesmar-try-watch: starts a launcher inside a Wine prefix for kesmar-pack try and reports, on stdout, every process
 * it starts, their exit codes and, at the time limit, what still runs and its visible windows.
 *
 *   kesmar-try-watch.exe LAUNCHER
 *   kesmar-try-watch.exe --settle     starts the desktop, makes a window and ends: a prefix's first start
 *
 * One line per fact, fields separated by tabs, text in UTF-8, times in
 * milliseconds since the launcher was created:
 *   temp <path>                 the temporary folder the launcher will use; then the line "go <limit in ms>"
 *                               on stdin starts it, with that time limit
 *   start <pid>                 the launcher was created
 *   process <ms> <pid> <parent pid>
 *   image <pid> <path>          as soon as Wine knows it, which may be after the process line
 *   exit <ms> <pid> <exit code>
 *   limit <ms>                  the time limit came first; then
 *   running <pid>               for each process still alive, and
 *   window <pid> <title>        for each of their visible top-level windows;
 *   shot                        waits for a line on stdin (the screen may be captured meanwhile), then ends them all
 *   done <ms> <launcher exit code>
 *   fail <error> <message>      the launcher could not be started
 *
 * The launcher runs in a job object: every process it starts, and every one
 * they start, belongs to the job, which reports each start and exit through
 * a completion port and ends them all at once at the limit. The desktop is
 * created before the job exists, so that Wine's desktop process is no part
 * of the run.
 *
 * Standard input and output are this program's channel to kesmar-pack try, and
 * no process of the run may share them: Wine hands a child the standard handles
 * of its parent (and their Unix descriptors) whether or not handles are
 * inherited. So this program keeps its own two handles to itself, sets all
 * three standard handles to NUL, and starts the launcher with NUL for each;
 * Wine then gives the launcher's Unix descriptors 0 and 1 /dev/null. Standard
 * error, Unix descriptor 2, Wine hands on as it is: try reads it as Wine's
 * messages only. */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <tlhelp32.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

#define MAX_PROCESSES 512

typedef struct {
  DWORD pid;
  HANDLE handle; /* NULL when the process had gone before it could be opened */
  int exited;
  int named;     /* its image path has been reported */
} Tracked;

static Tracked tracked[MAX_PROCESSES];
static int trackedCount;
static HANDLE output; /* the channel's two ends, held by this program alone */
static HANDLE input;
static LARGE_INTEGER frequency, origin;

static long long Elapsed(void) {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return (now.QuadPart - origin.QuadPart) * 1000 / frequency.QuadPart;
}

static void WriteBytes(const char* bytes, int size) {
  DWORD written = 0;
  while (size > 0 && WriteFile(output, bytes, (DWORD)size, &written, NULL) && written > 0) {
    bytes += written;
    size -= (int)written;
  }
}

/* A line of ASCII fields. */
static void Line(const char* format, ...) {
  char buffer[512];
  va_list arguments;
  va_start(arguments, format);
  int size = vsnprintf(buffer, sizeof buffer - 1, format, arguments);
  va_end(arguments);
  if (size < 0 || size > (int)sizeof buffer - 2) size = (int)sizeof buffer - 2;
  buffer[size] = '\n';
  WriteBytes(buffer, size + 1);
}

/* Wide text as UTF-8, with tabs and line ends made blanks so that a field stays one field. */
static void WriteWide(const wchar_t* text) {
  int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, NULL, 0, NULL, NULL);
  if (size <= 1) return;
  char* bytes = (char*)malloc((size_t)size);
  if (!bytes) return;
  WideCharToMultiByte(CP_UTF8, 0, text, -1, bytes, size, NULL, NULL);
  for (int i = 0; i < size - 1; ++i) {
    if (bytes[i] == '\t' || bytes[i] == '\r' || bytes[i] == '\n') bytes[i] = ' ';
  }
  WriteBytes(bytes, size - 1);
  free(bytes);
}

/* Blocks until a line (or the end) comes on stdin; returns the number in it, or -1. */
static long long AwaitLine(void) {
  char c = 0;
  DWORD read = 0;
  long long number = -1;
  while (ReadFile(input, &c, 1, &read, NULL) && read == 1 && c != '\n') {
    if (c >= '0' && c <= '9') number = (number < 0 ? 0 : number * 10) + (c - '0');
  }
  return number;
}

static Tracked* Find(DWORD pid) {
  for (int i = 0; i < trackedCount; ++i) {
    if (tracked[i].pid == pid && !tracked[i].exited) return &tracked[i];
  }
  return NULL;
}

typedef LONG(WINAPI* QueryProcess)(HANDLE, int, void*, ULONG, ULONG*);

/* The process that created `pid`: from the process itself where it can be
 * opened (a snapshot taken at once may not list a process just created),
 * else from a snapshot. */
static DWORD ParentOf(DWORD pid, HANDLE handle) {
  static QueryProcess query;
  if (!query) query = (QueryProcess)(void*)GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationProcess");
  struct {
    LONG exitStatus;
    void* peb;
    ULONG_PTR affinity;
    LONG priority;
    ULONG_PTR pid;
    ULONG_PTR parent;
  } basic; /* PROCESS_BASIC_INFORMATION, class 0 */
  ULONG size = 0;
  if (handle && query && query(handle, 0, &basic, sizeof basic, &size) == 0) return (DWORD)basic.parent;
  DWORD parent = 0;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return 0;
  PROCESSENTRY32W entry;
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
    if (entry.th32ProcessID == pid) {
      parent = entry.th32ParentProcessID;
      break;
    }
  }
  CloseHandle(snapshot);
  return parent;
}

/* The file name of a process's image from a snapshot, when the process
 * could not be opened or its path cannot be had: at least its name. */
static int SnapshotName(DWORD pid, wchar_t* name, DWORD size) {
  int found = 0;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return 0;
  PROCESSENTRY32W entry;
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
    if (entry.th32ProcessID == pid && entry.szExeFile[0]) {
      lstrcpynW(name, entry.szExeFile, (int)size);
      found = 1;
      break;
    }
  }
  CloseHandle(snapshot);
  return found;
}

/* Reports the image path of a process once Wine has it: a process just
 * created has none yet. With `last`, the process is ending: its name from
 * a snapshot will do. */
static void NameProcess(Tracked* entry, int last) {
  if (entry->named) return;
  wchar_t image[MAX_PATH * 2] = L"";
  DWORD size = MAX_PATH * 2;
  if (!entry->handle || !QueryFullProcessImageNameW(entry->handle, 0, image, &size) || size == 0) {
    if ((entry->handle && !last) || !SnapshotName(entry->pid, image, MAX_PATH * 2)) return;
  }
  entry->named = 1;
  char head[64];
  int length = snprintf(head, sizeof head, "image\t%lu\t", (unsigned long)entry->pid);
  WriteBytes(head, length);
  WriteWide(image);
  WriteBytes("\n", 1);
}

static int Unnamed(void) {
  for (int i = 0; i < trackedCount; ++i) {
    if (!tracked[i].named && tracked[i].handle && !tracked[i].exited) return 1;
  }
  return 0;
}

static void NoteStart(DWORD pid, HANDLE known) {
  if (Find(pid) || trackedCount == MAX_PROCESSES) return;
  Tracked* entry = &tracked[trackedCount++];
  entry->pid = pid;
  entry->exited = 0;
  entry->named = 0;
  entry->handle = known ? known : OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, pid);
  Line("process\t%lld\t%lu\t%lu", Elapsed(), (unsigned long)pid, (unsigned long)ParentOf(pid, entry->handle));
  NameProcess(entry, !entry->handle);
}

static void NoteExit(DWORD pid) {
  Tracked* entry = Find(pid);
  DWORD code = 0;
  /* A process never tracked (more than MAX_PROCESSES) gets no line: try takes an exit only of one it knows. */
  if (!entry) return;
  if (entry->handle) {
    NameProcess(entry, 0);
    WaitForSingleObject(entry->handle, 1000);
    NameProcess(entry, 1);
    if (GetExitCodeProcess(entry->handle, &code)) {
      Line("exit\t%lld\t%lu\t%lu", Elapsed(), (unsigned long)pid, (unsigned long)code);
    } else {
      Line("exit\t%lld\t%lu\t-", Elapsed(), (unsigned long)pid);
    }
  } else {
    NameProcess(entry, 1);
    Line("exit\t%lld\t%lu\t-", Elapsed(), (unsigned long)pid);
  }
  entry->exited = 1;
}

static BOOL CALLBACK ListWindow(HWND window, LPARAM unused) {
  (void)unused;
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  if (!IsWindowVisible(window) || !Find(pid)) return TRUE;
  /* InternalGetWindowText sends no message: a program that hangs cannot stall the list. */
  wchar_t title[512] = L"";
  InternalGetWindowText(window, title, 512);
  char head[64];
  int length = snprintf(head, sizeof head, "window\t%lu\t", (unsigned long)pid);
  WriteBytes(head, length);
  WriteWide(title);
  WriteBytes("\n", 1);
  return TRUE;
}

static int FailStart(const wchar_t* launcher) {
  DWORD error = GetLastError();
  wchar_t message[512] = L"";
  FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL, error, 0, message, 512, NULL);
  size_t end = wcslen(message);
  while (end > 0 && (message[end - 1] == L' ' || message[end - 1] == L'\r' || message[end - 1] == L'\n' ||
                     message[end - 1] == L'.')) {
    message[--end] = 0;
  }
  char head[64];
  int length = snprintf(head, sizeof head, "fail\t%lu\t", (unsigned long)error);
  WriteBytes(head, length);
  WriteWide(message);
  WriteBytes(" (", 2);
  WriteWide(launcher);
  WriteBytes(")\n", 2);
  return 3;
}

int wmain(int argc, wchar_t** argv) {
  output = GetStdHandle(STD_OUTPUT_HANDLE);
  input = GetStdHandle(STD_INPUT_HANDLE);
  /* From here on, the standard handles are NUL: whatever this process starts
   * (the launcher, and Wine's own helpers) gets them, not the channel. */
  HANDLE nul = CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                           OPEN_EXISTING, 0, NULL);
  if (nul == INVALID_HANDLE_VALUE) nul = NULL;
  SetStdHandle(STD_INPUT_HANDLE, nul);
  SetStdHandle(STD_OUTPUT_HANDLE, nul);
  SetStdHandle(STD_ERROR_HANDLE, nul);
  if (argc != 2) {
    Line("usage: kesmar-try-watch LAUNCHER | --settle");
    return 2;
  }
  const wchar_t* launcher = argv[1];
  /* Wine starts its desktop process with the first window: here, outside the job. */
  GetDesktopWindow();
  if (wcscmp(launcher, L"--settle") == 0) {
    HWND window = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 10, 10, NULL, NULL, NULL, NULL);
    if (window) DestroyWindow(window);
    return 0;
  }

  wchar_t temp[MAX_PATH + 1] = L"";
  GetTempPathW(MAX_PATH + 1, temp);
  WriteBytes("temp\t", 5);
  WriteWide(temp);
  WriteBytes("\n", 1);
  const long long limit = AwaitLine();
  if (limit < 0) return 2;

  HANDLE job = CreateJobObjectW(NULL, NULL);
  HANDLE port = CreateIoCompletionPort(INVALID_HANDLE_VALUE, NULL, 0, 1);
  JOBOBJECT_ASSOCIATE_COMPLETION_PORT association = {job, port};
  if (!job || !port ||
      !SetInformationJobObject(job, JobObjectAssociateCompletionPortInformation, &association, sizeof association)) {
    return FailStart(L"job object");
  }

  /* The launcher's folder as its current folder, and no arguments: as when it is double-clicked. */
  size_t length = wcslen(launcher);
  wchar_t* commandLine = (wchar_t*)calloc(length + 3, sizeof(wchar_t));
  wchar_t* folder = (wchar_t*)calloc(length + 1, sizeof(wchar_t));
  if (!commandLine || !folder) return FailStart(launcher);
  swprintf(commandLine, length + 3, L"\"%ls\"", launcher);
  wcscpy(folder, launcher);
  wchar_t* slash = wcsrchr(folder, L'\\');
  if (slash) slash[1] = 0;

  STARTUPINFOW startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = startup.hStdOutput = startup.hStdError = nul;
  PROCESS_INFORMATION process;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&origin);
  if (!CreateProcessW(launcher, commandLine, NULL, NULL, FALSE, CREATE_SUSPENDED, NULL, slash ? folder : NULL,
                      &startup, &process)) {
    return FailStart(launcher);
  }
  if (!AssignProcessToJobObject(job, process.hProcess)) {
    TerminateProcess(process.hProcess, 1);
    return FailStart(L"job object");
  }
  Line("start\t%lu", (unsigned long)process.dwProcessId);
  NoteStart(process.dwProcessId, process.hProcess);
  ResumeThread(process.hThread);
  CloseHandle(process.hThread);

  int reachedLimit = 0;
  for (;;) {
    const long long left = limit - Elapsed();
    if (left <= 0) {
      reachedLimit = 1;
      break;
    }
    DWORD message = 0;
    ULONG_PTR key = 0;
    LPOVERLAPPED value = NULL;
    /* Names come shortly after a start: look again soon while one is missing. */
    const long long wait = Unnamed() ? 20 : 1000;
    const BOOL got = GetQueuedCompletionStatus(port, &message, &key, &value, (DWORD)(left > wait ? wait : left));
    for (int i = 0; i < trackedCount; ++i) {
      if (!tracked[i].exited) NameProcess(&tracked[i], 0);
    }
    if (!got) continue;
    const DWORD pid = (DWORD)(ULONG_PTR)value;
    if (message == JOB_OBJECT_MSG_NEW_PROCESS) NoteStart(pid, NULL);
    if (message == JOB_OBJECT_MSG_EXIT_PROCESS || message == JOB_OBJECT_MSG_ABNORMAL_EXIT_PROCESS) NoteExit(pid);
    if (message == JOB_OBJECT_MSG_ACTIVE_PROCESS_ZERO) break;
  }

  if (reachedLimit) {
    Line("limit\t%lld", Elapsed());
    for (int i = 0; i < trackedCount; ++i) {
      if (!tracked[i].exited && tracked[i].handle && WaitForSingleObject(tracked[i].handle, 0) == WAIT_TIMEOUT) {
        Line("running\t%lu", (unsigned long)tracked[i].pid);
      }
    }
    EnumWindows(ListWindow, 0);
    Line("shot");
    AwaitLine();
    TerminateJobObject(job, 1);
    WaitForSingleObject(process.hProcess, 5000);
  }
  DWORD code = 0;
  if (GetExitCodeProcess(process.hProcess, &code) && code != STILL_ACTIVE) {
    Line("done\t%lld\t%lu", Elapsed(), (unsigned long)code);
  } else {
    Line("done\t%lld\t-", Elapsed());
  }
  return 0;
}
