// Xvfb started on the display it finds free (-displayfd), and xwd's dump of its root window turned into PNG.
#include "kesmar_pack/try/screen/virtual_screen.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/random.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <thread>
#include <vector>

#include "kesmar_pack/try/file_tree.h"
#include "kesmar_pack/try/sandbox.h"
#include "kesmar_pack/try/screen/screen_image.h"

extern char** environ;

namespace kesmar {
namespace {

// Of ours, the named variables only, with `set`: X's programs need no more.
std::vector<std::string> OwnEnvironment(const std::vector<std::string>& set = {}) {
  std::vector<std::string> environment;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) environment.push_back(*entry);
  return NamedEnvironment(environment, set);
}

// A new file that only we may read, never through a link.
bool WriteSecret(const std::string& path, const std::string& bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  const bool whole = ::write(fd, bytes.data(), bytes.size()) == ssize_t(bytes.size());
  return ::close(fd) == 0 && whole;
}

}  // namespace

std::string XauthorityEntry(const std::string& number, const std::string& cookie) {
  auto counted = [](const std::string& text) {
    return std::string(1, char(text.size() >> 8)) + char(text.size() & 0xff) + text;
  };
  return std::string("\xff\xff", 2) + counted("") + counted(number) + counted("MIT-MAGIC-COOKIE-1") + counted(cookie);
}

std::string ScreenshotProblem() {
  if (FindInPath("Xvfb").empty()) return "--screenshot needs Xvfb: install xvfb";
  if (FindInPath("xwd").empty()) return "--screenshot needs xwd: install x11-apps";
  return "";
}

bool VirtualScreen::Start(TryClock::time_point deadline, const SandboxPlan* sandbox, const std::string& authFolder,
                          std::string* problem) {
  char cookie[16];
  if (::getrandom(cookie, sizeof cookie, 0) != ssize_t(sizeof cookie)) {
    *problem = "no random bytes for the screen's cookie";
    return false;
  }
  const std::string secret(cookie, sizeof cookie);
  const std::string serverAuthority = authFolder + "/Xvfb.auth";
  authority_ = authFolder + "/Xauthority";
  if (!WriteSecret(serverAuthority, XauthorityEntry("0", secret))) {
    *problem = "cannot write " + serverAuthority;
    return false;
  }
  sandbox_ = sandbox;
  ChildOptions options;
  // Xvfb writes the number of the display it took to descriptor 1, our pipe.
  options.argv = {"Xvfb", "-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp", "-auth",
                  serverAuthority};
  options.environment = OwnEnvironment();
  options.pipeOutput = true;
  options.sandbox = sandbox;
  if (!server_.Start(options, problem)) return false;
  running_ = true;
  std::string output;
  while (output.find('\n') == std::string::npos) {
    int status = 0;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - TryClock::now()).count();
    if (server_.Ended(&status) || left <= 0 || StopRequested()) {
      *problem = "Xvfb did not start";
      Stop();
      return false;
    }
    pollfd fd = {server_.output(), POLLIN, 0};
    ::poll(&fd, 1, int(left < 100 ? left : 100));
    ReadAvailable(server_.output(), &output);
  }
  const std::string number = output.substr(0, output.find('\n'));
  if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos) {
    *problem = "Xvfb named no display";
    Stop();
    return false;
  }
  display_ = ":" + number;
  if (!WriteSecret(authority_, XauthorityEntry(number, secret))) {
    *problem = "cannot write " + authority_;
    Stop();
    return false;
  }
  return true;
}

bool VirtualScreen::Capture(const std::string& workFolder, TryClock::time_point deadline, std::string* png,
                            std::string* problem) {
  const std::string dump = workFolder + "/screen.xwd";
  ChildOptions options;
  options.argv = {"xwd", "-root", "-silent", "-display", display_, "-out", dump};
  options.environment = OwnEnvironment({"XAUTHORITY=" + authority_});
  options.sandbox = sandbox_;
  int status = 0;
  std::string output, bytes;
  if (!RunToEnd(options, deadline, &status, &output, problem)) return false;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || !ReadWholeFile(dump, &bytes)) {
    *problem = "xwd could not capture the screen" + (output.empty() ? "" : ": " + output.substr(0, output.find('\n')));
    return false;
  }
  ::unlink(dump.c_str());
  RgbImage image;
  if (!ReadXwd(bytes, &image, problem)) return false;
  *png = EncodePng(image);
  if (png->empty()) *problem = "no memory to compress the screenshot";
  return !png->empty();
}

void VirtualScreen::Stop() {
  if (!running_) return;
  server_.SignalGroup(SIGTERM);
  int status = 0;
  for (int i = 0; i < 50 && !server_.Ended(&status); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  server_.Kill();
  running_ = false;
}

}  // namespace kesmar
