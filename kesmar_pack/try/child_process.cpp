// Starting, reading, ending and waiting for try's child programs with fork and exec; the stop signals.
#include "kesmar_pack/try/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "kesmar_pack/try/sandbox.h"

namespace kesmar {
namespace {

volatile sig_atomic_t stopSignal = 0;
struct sigaction previousInt, previousTerm, previousPipe;

extern "C" void NoteStop(int signal) { stopSignal = signal; }

void CloseFd(int* fd) {
  if (*fd >= 0) ::close(*fd);
  *fd = -1;
}

}  // namespace

ChildProcess::~ChildProcess() {
  Kill();
  CloseInput();
  CloseFd(&output_);
  CloseFd(&errors_);
  CloseFd(&control_);
  CloseFd(&info_);
}

bool ChildProcess::Start(const ChildOptions& options, std::string* problem) {
  std::vector<std::string> command = options.argv, settings = options.environment;
  if (options.sandbox != nullptr && !command.empty()) {
    // The environment goes into the sandbox by name; bubblewrap itself needs only PATH.
    SandboxPlan plan = *options.sandbox;
    plan.environment = options.environment;
    if (options.pipeInfo) plan.infoFd = 4;
    command = SandboxArguments(plan);
    command.insert(command.end(), options.argv.begin(), options.argv.end());
    const char* path = ::getenv("PATH");
    settings = {std::string("PATH=") + (path != nullptr ? path : "/usr/bin:/bin")};
  }
  const std::string program = command.empty() ? "" : FindInPath(command[0]);
  if (program.empty()) {
    *problem = (command.empty() ? std::string("nothing")
                                : command[0] == "bwrap" ? std::string("bubblewrap (bwrap)") : command[0]) +
               " is not installed";
    return false;
  }
  int in[2] = {-1, -1}, out[2] = {-1, -1}, err[2] = {-1, -1}, report[2] = {-1, -1}, control[2] = {-1, -1},
      info[2] = {-1, -1};
  auto closeAll = [&] {
    for (int* fd : {&in[0], &in[1], &out[0], &out[1], &err[0], &err[1], &report[0], &report[1], &control[0],
                    &control[1], &info[0], &info[1]}) {
      CloseFd(fd);
    }
  };
  // The child's ends are moved up out of the way of 0 to 4 first.
  auto high = [](int fds[2]) {
    for (int i = 0; i < 2; ++i) {
      const int moved = ::fcntl(fds[i], F_DUPFD_CLOEXEC, 10);
      ::close(fds[i]);
      fds[i] = moved;
    }
    return fds[0] >= 0 && fds[1] >= 0;
  };
  if ((options.pipeInput && ::pipe2(in, O_CLOEXEC) != 0) || (options.pipeOutput && ::pipe2(out, O_CLOEXEC) != 0) ||
      (options.pipeErrors && ::pipe2(err, O_CLOEXEC) != 0) ||
      (options.pipeControl && (::pipe2(control, O_CLOEXEC) != 0 || !high(control))) ||
      (options.pipeInfo && (::pipe2(info, O_CLOEXEC) != 0 || !high(info))) || ::pipe2(report, O_CLOEXEC) != 0 ||
      !high(report)) {
    *problem = std::string("cannot make a pipe (") + std::strerror(errno) + ")";
    closeAll();
    return false;
  }
  std::vector<char*> argv, environment;
  for (const std::string& arg : command) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  for (const std::string& entry : settings) environment.push_back(const_cast<char*>(entry.c_str()));
  environment.push_back(nullptr);
  // Where closing one by one stops, when the kernel cannot close a range.
  long openMax = ::sysconf(_SC_OPEN_MAX);
  if (openMax < 0 || openMax > 65536) openMax = 65536;

  pid_ = ::fork();
  if (pid_ < 0) {
    *problem = std::string("cannot start ") + command[0] + " (" + std::strerror(errno) + ")";
    closeAll();
    return false;
  }
  if (pid_ == 0) {
    // Only async-signal-safe calls from here to exec.
    ::setpgid(0, 0);
    for (int signal : {SIGINT, SIGTERM, SIGPIPE}) ::signal(signal, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    const int null = ::open("/dev/null", O_RDWR);
    ::dup2(options.pipeInput ? in[0] : null, 0);
    ::dup2(options.pipeOutput ? out[1] : null, 1);
    ::dup2(options.pipeErrors ? err[1] : null, 2);
    if (null > 2) ::close(null);
    // The control and info pipes, when asked for, at 3 and 4 (their ends
    // were moved up out of the way).
    if (options.pipeControl) ::dup2(control[0], 3);
    if (options.pipeInfo) ::dup2(info[1], 4);
    // Nothing else of ours, nor of whoever started us, is handed on: Wine
    // passes every descriptor it has to each process of a run.
    const int keep = report[1];
    auto closeFrom = [](int first, int last) {
#ifdef SYS_close_range
      if (first > last || ::syscall(SYS_close_range, unsigned(first), unsigned(last), 0u) == 0) return;
#endif
      for (int fd = first; fd <= last; ++fd) ::close(fd);
    };
    if (!options.pipeControl) ::close(3);
    if (!options.pipeInfo) ::close(4);
    closeFrom(5, keep - 1);
    closeFrom(keep + 1, int(openMax) - 1);
    if (options.folder.empty() || ::chdir(options.folder.c_str()) == 0) {
      ::execve(program.c_str(), argv.data(), environment.data());
    }
    const int error = errno;
    ssize_t ignored = ::write(report[1], &error, sizeof error);
    (void)ignored;
    ::_exit(127);
  }
  // Set here too: whichever of the two comes first, the group exists before
  // anyone signals it.
  ::setpgid(pid_, pid_);
  CloseFd(&in[0]);
  CloseFd(&out[1]);
  CloseFd(&err[1]);
  CloseFd(&report[1]);
  CloseFd(&control[0]);
  CloseFd(&info[1]);
  int error = 0;
  ssize_t got;
  do {
    got = ::read(report[0], &error, sizeof error);
  } while (got < 0 && errno == EINTR);
  CloseFd(&report[0]);
  if (got == sizeof error) {
    *problem = std::string("cannot start ") + program + " (" + std::strerror(error) + ")";
    ::waitpid(pid_, &status_, 0);
    reaped_ = true;
    closeAll();
    return false;
  }
  input_ = in[1];
  output_ = out[0];
  errors_ = err[0];
  control_ = control[1];
  info_ = info[0];
  for (int fd : {output_, errors_, info_}) {
    if (fd >= 0) ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
  }
  return true;
}

bool ChildProcess::Ended(int* status) {
  if (pid_ < 0) return true;
  if (!reaped_) {
    const pid_t got = ::waitpid(pid_, &status_, WNOHANG);
    if (got == pid_ || (got < 0 && errno == ECHILD)) reaped_ = true;
  }
  if (reaped_ && status != nullptr) *status = status_;
  return reaped_;
}

void ChildProcess::SignalGroup(int signal) {
  if (pid_ > 0) ::kill(-pid_, signal);
}

void ChildProcess::Kill() {
  if (pid_ < 0 || reaped_) return;
  SignalGroup(SIGKILL);
  while (::waitpid(pid_, &status_, 0) < 0 && errno == EINTR) {
  }
  reaped_ = true;
}

void ChildProcess::CloseInput() { CloseFd(&input_); }

void ChildProcess::CloseControl() { CloseFd(&control_); }

bool ReadAvailable(int fd, std::string* text) {
  char buffer[4096];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got > 0) {
      text->append(buffer, size_t(got));
      continue;
    }
    if (got < 0 && errno == EINTR) continue;
    return got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
  }
}

bool RunToEnd(const ChildOptions& options, TryClock::time_point deadline, int* status, std::string* output,
              std::string* problem, bool heedStop) {
  ChildOptions piped = options;
  piped.pipeOutput = output != nullptr;
  piped.pipeErrors = output != nullptr;
  ChildProcess child;
  if (!child.Start(piped, problem)) return false;
  std::string out, err;
  bool outOpen = child.output() >= 0, errOpen = child.errors() >= 0;
  while (!child.Ended(status)) {
    if (heedStop && StopRequested()) {
      child.Kill();
      *problem = "stopped by a signal";
      return false;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - TryClock::now()).count();
    if (left <= 0) {
      child.Kill();
      *problem = options.argv[0] + " did not end in time";
      return false;
    }
    pollfd fds[2];
    nfds_t count = 0;
    if (outOpen) fds[count++] = {child.output(), POLLIN, 0};
    if (errOpen) fds[count++] = {child.errors(), POLLIN, 0};
    ::poll(fds, count, int(left < 50 ? left : 50));
    if (outOpen) outOpen = ReadAvailable(child.output(), &out);
    if (errOpen) errOpen = ReadAvailable(child.errors(), &err);
  }
  if (outOpen) ReadAvailable(child.output(), &out);
  if (errOpen) ReadAvailable(child.errors(), &err);
  if (output != nullptr) *output = out + err;
  return true;
}

std::string FindInPath(const std::string& name) {
  auto executable = [](const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
  };
  if (name.find('/') != std::string::npos) return executable(name) ? name : "";
  const char* path = ::getenv("PATH");
  std::string folders = path != nullptr ? path : "/usr/bin:/bin";
  size_t start = 0;
  while (start <= folders.size()) {
    size_t end = folders.find(':', start);
    if (end == std::string::npos) end = folders.size();
    const std::string folder = end > start ? folders.substr(start, end - start) : ".";
    if (executable(folder + "/" + name)) return folder + "/" + name;
    start = end + 1;
  }
  return "";
}

StopSignals::StopSignals() {
  stopSignal = 0;
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = NoteStop;
  sigemptyset(&action.sa_mask);
  // No SA_RESTART: a wait in poll() returns at once.
  ::sigaction(SIGINT, &action, &previousInt);
  ::sigaction(SIGTERM, &action, &previousTerm);
  // A signal ignored by whoever started us stays ignored.
  if (previousInt.sa_handler == SIG_IGN) ::sigaction(SIGINT, &previousInt, nullptr);
  if (previousTerm.sa_handler == SIG_IGN) ::sigaction(SIGTERM, &previousTerm, nullptr);
  action.sa_handler = SIG_IGN;
  ::sigaction(SIGPIPE, &action, &previousPipe);
}

StopSignals::~StopSignals() {
  ::sigaction(SIGINT, &previousInt, nullptr);
  ::sigaction(SIGTERM, &previousTerm, nullptr);
  ::sigaction(SIGPIPE, &previousPipe, nullptr);
  if (stopSignal != 0) ::raise(stopSignal);
}

bool StopRequested() { return stopSignal != 0; }

}  // namespace kesmar
