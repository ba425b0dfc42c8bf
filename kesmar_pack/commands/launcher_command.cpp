// MakeLauncher and FindLauncherStub.
#include "kesmar_pack/commands/launcher_command.h"

#include <cerrno>
#include <cstring>
#include <sstream>
#include <vector>

#include "builder/build_payload.h"
#include "pe/launcher_writer.h"
#include "platform/host_files.h"
#include "kesmar_pack/commands/container_commands.h"
#include "kesmar_pack/commands/launcher_check.h"
#include "kesmar_pack/commands/pack_command.h"
#include "kesmar_pack/commands/pack_input.h"
#include "kesmar_pack/commands/payload_file.h"
#include "kesmar_pack/commands/temporary_files.h"

namespace kesmar {
namespace {

constexpr char kStubName[] = "KesmarSetupWin-stub.exe";

std::string SystemError(const char* what, int error) {
  return error == 0 ? std::string(what) : std::string(what) + " (" + std::strerror(error) + ")";
}

}  // namespace

std::string FindLauncherStub(std::string* looked) {
  const std::string folder = ExecutableFolder();
  const char s = ShownSeparator(folder);
  const std::string candidates[] = {folder + s + ".." + s + "lib" + s + "kesmar-pack" + s + kStubName,
                                    folder + s + kStubName, folder + s + ".." + s + "win32" + s + kStubName};
  looked->clear();
  for (const std::string& candidate : candidates) {
    if (InspectPath(candidate).kind == PathInfo::kFile) return candidate;
    *looked += (looked->empty() ? "" : ", ") + candidate;
  }
  return "";
}

int MakeLauncher(const LauncherRequest& request, const CodePage& codePage, std::ostream& out,
                 std::ostream& err, bool showProgress) {
  if (ReportOutputPathProblem(request.output, err, request.folder)) return kToolFailed;
  std::string stubPath = request.stub;
  if (stubPath.empty()) {
    std::string looked;
    stubPath = FindLauncherStub(&looked);
    if (stubPath.empty()) {
      err << "kesmar-pack: no launcher stub found (looked for " << looked << "); name one with --stub\n";
      return kToolFailed;
    }
  }
  // Nor is a file it reads replaced: the stub, or the container it embeds.
  for (const auto& [input, what] : {std::pair<std::string, const char*>{stubPath, "the stub"},
                                    {request.payloadFile, "the --payload file"}}) {
    if (!input.empty() && SameFile(request.output, input)) {
      err << request.output << ": is " << input << ", " << what << "; kesmar-pack never writes over a file it reads\n";
      return kToolFailed;
    }
  }
  std::vector<uint8_t> stub;
  std::string problem;
  if (!ReadFileBytes(stubPath, &stub, &problem)) {
    err << stubPath << ": " << problem << '\n';
    return kToolFailed;
  }

  // Every file this command writes is one it creates itself, beside the
  // output, and deletes again on failure or on a signal.
  const std::unique_ptr<FileSystem> files = CreatePackInputFileSystem(request.output, {});
  // The payload: packed here, by the rules of pack, or taken from a file.
  std::string payloadPath = request.payloadFile;
  TemporaryFile packed(*files);
  if (!request.folder.empty()) {
    if (!packed.Create(request.output + ".payload-")) {
      err << request.output << ": " << SystemError("cannot create", errno) << '\n';
      return kToolFailed;
    }
    PackJob job;
    job.folder = request.folder;
    job.output = packed.path();
    job.ownOutput = request.output;
    job.forLauncher = !request.force;
    job.warnLongNames = true;
    std::ostringstream quiet;
    const int code = PackFolder(job, codePage, quiet, err, showProgress);
    if (code != kToolOk) return code;
    payloadPath = packed.path();
  } else if (!request.force) {
    // Its warnings as they are; its refusal, the last line, with the way round it.
    std::ostringstream quiet, said;
    const bool verified = VerifyPayload(payloadPath, codePage, quiet, said) == kToolOk;
    std::string lines = said.str();
    if (!verified) {
      while (!lines.empty() && lines.back() == '\n') lines.pop_back();
      err << lines << " (--force embeds it as it is)\n";
      return kToolFailed;
    }
    err << lines;
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
  int error = 0;
  if (const char* reason = WriteFileReplacing(*files, request.output, launcher.data(), uint32_t(launcher.size()),
                                              &error)) {
    err << request.output << ": " << SystemError(reason, error) << '\n';
    return kToolFailed;
  }
  // The stub's figure is its file's; the launcher adds a resource entry and
  // alignment to the two, so its own size is given too.
  out << request.output << ": launcher, stub " << stub.size() << " bytes + payload " << payload.containerSize
      << " bytes (" << launcher.size() << " bytes in all) from "
      << (request.folder.empty() ? payloadPath : request.folder) << '\n';
  return kToolOk;
}

}  // namespace kesmar
