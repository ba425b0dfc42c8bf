// Xvfb started on the display it finds free (-displayfd), and xwd's dump of its root window turned into PNG.
#include "kesmar_pack/try/screen/virtual_screen.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <thread>
#include <vector>

#include "kesmar_pack/try/file_tree.h"
#include "kesmar_pack/try/screen/screen_image.h"

extern char** environ;

namespace kesmar {
namespace {

std::vector<std::string> OwnEnvironment() {
  std::vector<std::string> environment;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) environment.push_back(*entry);
  return environment;
}

}  // namespace

std::string ScreenshotProblem() {
  if (FindInPath("Xvfb").empty()) return "--screenshot needs Xvfb: install xvfb";
  if (FindInPath("xwd").empty()) return "--screenshot needs xwd: install x11-apps";
  return "";
}

bool VirtualScreen::Start(TryClock::time_point deadline, std::string* problem) {
  ChildOptions options;
  // Xvfb writes the number of the display it took to descriptor 1, our pipe.
  options.argv = {"Xvfb", "-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp"};
  options.environment = OwnEnvironment();
  options.pipeOutput = true;
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
  return true;
}

bool VirtualScreen::Capture(const std::string& workFolder, TryClock::time_point deadline, std::string* png,
                            std::string* problem) {
  const std::string dump = workFolder + "/screen.xwd";
  ChildOptions options;
  options.argv = {"xwd", "-root", "-silent", "-display", display_, "-out", dump};
  options.environment = OwnEnvironment();
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
