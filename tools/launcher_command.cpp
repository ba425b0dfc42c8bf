// MakeLauncher and FindLauncherStub.
#include "tools/launcher_command.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <sstream>
#include <vector>

#include "pe/launcher_writer.h"
#include "tools/container_commands.h"
#include "tools/launcher_check.h"
#include "tools/pack_command.h"
#include "tools/pack_input.h"
#include "tools/payload_file.h"
#include "tools/temporary_files.h"

namespace kesmar {
namespace {

constexpr char kStubName[] = "KesmarSetupWin-stub.exe";

std::string OwnFolder() {
  std::vector<char> buffer(4096);
  const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
  if (length <= 0) return "";
  const std::string path(buffer.data(), size_t(length));
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? "" : path.substr(0, slash);
}

std::string SystemError(const char* what) { return std::string(what) + " (" + std::strerror(errno) + ")"; }

// Writes `bytes` to `path` by way of path + ".tmp", so that a failure leaves
// an older file of that name as it was.
bool WriteAtomically(const std::string& path, const std::vector<uint8_t>& bytes, std::string* problem) {
  const std::string temporary = path + ".tmp";
  int fd = -1;
  {
    SignalsHeld held;
    fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0755);
    if (fd >= 0) RegisterTemporaryFile(temporary);
  }
  if (fd < 0) {
    *problem = SystemError("cannot create");
    return false;
  }
  // Whatever happens from here, the temporary name goes.
  struct Forget {
    const std::string& path;
    ~Forget() { ForgetTemporaryFile(path); }
  } forget{temporary};
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t wrote = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) {
      if (wrote == 0) errno = ENOSPC;
      *problem = SystemError("cannot write");
      ::close(fd);
      ::unlink(temporary.c_str());
      return false;
    }
    done += size_t(wrote);
  }
  if (::close(fd) != 0 || ::rename(temporary.c_str(), path.c_str()) != 0) {
    *problem = SystemError("cannot write");
    ::unlink(temporary.c_str());
    return false;
  }
  return true;
}

}  // namespace

std::string FindLauncherStub(std::string* looked) {
  const std::string folder = OwnFolder();
  const std::string candidates[] = {folder + "/../lib/kesmar-pack/" + kStubName, folder + "/" + kStubName,
                                    folder + "/../win32/" + kStubName};
  looked->clear();
  for (const std::string& candidate : candidates) {
    struct stat st;
    if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return candidate;
    *looked += (looked->empty() ? "" : ", ") + candidate;
  }
  return "";
}

int MakeLauncher(const LauncherRequest& request, const CodePage& codePage, std::ostream& out,
                 std::ostream& err, bool showProgress) {
  if (ReportOutputPathProblem(request.output, err)) return kToolFailed;
  std::string stubPath = request.stub;
  if (stubPath.empty()) {
    std::string looked;
    stubPath = FindLauncherStub(&looked);
    if (stubPath.empty()) {
      err << "kesmar-pack: no launcher stub found (looked for " << looked << "); name one with --stub\n";
      return kToolFailed;
    }
  }
  std::vector<uint8_t> stub;
  std::string problem;
  if (!ReadFileBytes(stubPath, &stub, &problem)) {
    err << stubPath << ": " << problem << '\n';
    return kToolFailed;
  }

  // The payload: packed here, by the rules of pack, or taken from a file.
  std::string payloadPath = request.payloadFile;
  TemporaryFile packed;
  if (!request.folder.empty()) {
    // A name of its own beside the output, which no file of the user's has.
    if (!packed.Create(request.output + ".payload-XXXXXX")) {
      err << request.output << ": " << SystemError("cannot create") << '\n';
      return kToolFailed;
    }
    PackJob job;
    job.folder = request.folder;
    job.output = packed.path();
    job.ownOutput = request.output;
    job.forLauncher = !request.force;
    std::ostringstream quiet;
    const int code = PackFolder(job, codePage, quiet, err, showProgress);
    if (code != kToolOk) return code;
    payloadPath = packed.path();
  } else if (!request.force) {
    std::ostringstream quiet, why;
    if (VerifyPayload(payloadPath, codePage, quiet, why) != kToolOk) {
      std::string line = why.str();
      while (!line.empty() && line.back() == '\n') line.pop_back();
      err << line << " (--force embeds it as it is)\n";
      return kToolFailed;
    }
  }
  PayloadFile payload;
  const bool loaded = LoadPayloadFile(payloadPath, &payload, &problem);
  packed.Remove();
  if (!loaded) {
    err << payloadPath << ": " << problem << '\n';
    return kToolFailed;
  }
  // Files that do not compress make a container the launcher cannot map,
  // which only packing tells.
  const bool checkSize = !request.folder.empty() && !request.force && payload.containerSize >= 4;
  const std::string tooLarge =
      checkSize ? PayloadSizeProblem(ReadLe32(payload.container()), payload.containerSize) : "";
  if (!tooLarge.empty()) {
    err << request.folder << ": " << tooLarge << "; --force writes the launcher all the same\n";
    return kToolFailed;
  }

  std::vector<uint8_t> launcher;
  if (!WriteLauncher(stub.data(), stub.size(), payload.container(), payload.containerSize,
                     &launcher, &problem)) {
    err << stubPath << ": " << problem << '\n';
    return kToolFailed;
  }
  if (!WriteAtomically(request.output, launcher, &problem)) {
    err << request.output << ": " << problem << '\n';
    return kToolFailed;
  }
  out << request.output << ": launcher, stub " << launcher.size() - payload.containerSize << " bytes + payload "
      << payload.containerSize << " bytes from " << (request.folder.empty() ? payloadPath : request.folder)
      << '\n';
  return kToolOk;
}

}  // namespace kesmar
