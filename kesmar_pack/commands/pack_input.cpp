// OutputPathProblem and the file system kesmar-pack hands the builder.
#include "kesmar_pack/commands/pack_input.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <set>
#include <vector>

#include "platform/host_files.h"
#include "platform/ntfs_order.h"
#include "kesmar_pack/commands/payload_file.h"
#include "kesmar_pack/commands/temporary_files.h"

namespace kesmar {
namespace {

size_t LastSeparator(const std::string& path) { return path.find_last_of(kHostPathSeparators); }

std::string FolderOf(const std::string& path) {
  const size_t slash = LastSeparator(path);
  if (slash == std::string::npos) return ".";
  return slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

std::string BaseName(const std::string& path) {
  const size_t slash = LastSeparator(path);
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Six characters as CreateUniqueFile picks them.
bool IsUniqueSuffix(const std::string& text) {
  return text.size() == 6 && std::all_of(text.begin(), text.end(), [](char c) { return std::isalnum(uint8_t(c)); });
}

// `name` is `base` + ".tmp-" and a unique suffix: a file written beside
// `base` before it replaces it. ".tmp" alone is the name older versions used.
bool IsReplacingTemporary(const std::string& name, const std::string& base) {
  const std::string prefix = base + ".tmp";
  if (name.compare(0, prefix.size(), prefix) != 0) return false;
  return name.size() == prefix.size() ||
         (name[prefix.size()] == '-' && IsUniqueSuffix(name.substr(prefix.size() + 1)));
}

// `name` is `base` + ".payload-" and a unique suffix, where a launcher's
// payload is packed, or the file written before it replaces that.
bool IsPayloadTemporary(const std::string& name, const std::string& base) {
  const std::string prefix = base + ".payload-";
  if (name.size() < prefix.size() + 6 || name.compare(0, prefix.size(), prefix) != 0) return false;
  const std::string payload = name.substr(0, prefix.size() + 6);
  return IsUniqueSuffix(payload.substr(prefix.size())) && (name == payload || IsReplacingTemporary(name, payload));
}

class ListedEntries final : public FindHandle {
 public:
  std::vector<FindData> entries;
  size_t next = 0;
};

class PackInputFileSystem final : public FileSystem {
 public:
  PackInputFileSystem(const std::string& ownOutput, SkippedEntry skipped, std::unique_ptr<FileSystem> files)
      : files_(std::move(files)),
        ownOutput_(ownOutput),
        outputFolder_(FolderOf(ownOutput)),
        outputName_(BaseName(ownOutput)),
        outputExists_(InspectPath(ownOutput).kind == PathInfo::kFile),
        skipped_(std::move(skipped)) {}

  std::unique_ptr<FindHandle> FindFirstFileA(const std::string& pattern, FindData* data) override {
    FindData entry;
    auto search = files_->FindFirstFileA(pattern, &entry);
    if (!search) return nullptr;  // errno says why
    std::string folder = pattern.substr(0, pattern.size() - 2);  // less "\\*"
    std::replace(folder.begin(), folder.end(), '\\', '/');
    if (folder.empty()) folder = "/";
    const bool besideOutput = SameFile(folder, outputFolder_);

    auto listed = std::make_unique<ListedEntries>();
    std::set<std::string> seen;
    Skipped skipped;
    do {
      seen.insert(entry.cFileName);
      const bool dots = entry.cFileName == "." || entry.cFileName == "..";
      if (besideOutput && IsOwnFile(folder, entry.cFileName)) continue;
      if ((entry.dwFileAttributes & kFileAttributeDirectory) && !dots) {
        skipped.emplace_back(entry.cFileName, "a folder, not packed");
      }
      // The builder passes over folders itself, "." and ".." included.
      listed->entries.push_back(entry);
    } while (files_->FindNextFileA(*search, &entry));
    AddUnlisted(folder, seen, &skipped);
    // In the order the folder lists, as the files are packed.
    std::sort(skipped.begin(), skipped.end(),
              [](const auto& a, const auto& b) { return NtfsNameLess(a.first, b.first); });
    for (const auto& [name, why] : skipped) skipped_(name, why);

    // A file system need not list "." and ".."; a folder that holds nothing
    // but this tool's own files then lists nothing at all, and is still a
    // folder with nothing to pack.
    if (listed->entries.empty()) {
      FindData self;
      self.cFileName = ".";
      self.dwFileAttributes = kFileAttributeDirectory;
      listed->entries.push_back(self);
    }
    *data = listed->entries[listed->next++];
    return listed;
  }

  bool FindNextFileA(FindHandle& handle, FindData* data) override {
    auto& listed = static_cast<ListedEntries&>(handle);
    if (listed.next >= listed.entries.size()) return false;
    *data = listed.entries[listed.next++];
    return true;
  }

  // Every file the tool creates is one it deletes again if a signal comes
  // before it is renamed into place or deleted.
  std::unique_ptr<OutputFile> CreateNewFileA(const std::string& path) override {
    const std::string native = Native(path);
    InterruptsHeld held;
    auto file = files_->CreateNewFileA(path);
    if (file && !RegisterTemporaryFile(native)) {
      file.reset();
      files_->DeleteFileA(path);
      errno = ENAMETOOLONG;
      return nullptr;
    }
    return file;
  }

  std::unique_ptr<OutputFile> OpenFileForWriting(const std::string& path) override {
    return files_->OpenFileForWriting(path);
  }

  bool MoveFileExA(const std::string& from, const std::string& to) override {
    const bool moved = files_->MoveFileExA(from, to);
    if (moved) ForgetTemporaryFile(Native(from));
    return moved;
  }

  bool DeleteFileA(const std::string& path) override {
    const bool deleted = files_->DeleteFileA(path);
    ForgetTemporaryFile(Native(path));
    return deleted;
  }

  std::unique_ptr<InputFile> OpenFileForReading(const std::string& path) override {
    return files_->OpenFileForReading(path);
  }
  uint32_t GetFileAttributesA(const std::string& path) override { return files_->GetFileAttributesA(path); }
  bool CreateDirectoryA(const std::string& path, const SecurityDescriptor* security) override {
    return files_->CreateDirectoryA(path, security);
  }
  bool RemoveDirectoryA(const std::string& path) override { return files_->RemoveDirectoryA(path); }
  bool CopyFileA(const std::string& from, const std::string& to, bool failIfExists) override {
    return files_->CopyFileA(from, to, failIfExists);
  }
  uint32_t GetTempPathA(uint32_t bufferLength, char* buffer) override {
    return files_->GetTempPathA(bufferLength, buffer);
  }
  bool GetTempPathW(std::wstring* path) override { return files_->GetTempPathW(path); }
  bool GetShortPathNameW(const std::wstring& path, std::wstring* shortPath) override {
    return files_->GetShortPathNameW(path, shortPath);
  }
  std::wstring MultiByteToWideChar(const std::string& text) override {
    return files_->MultiByteToWideChar(text);
  }
  bool WideCharToMultiByte(const std::wstring& text, std::string* ansi) override {
    return files_->WideCharToMultiByte(text, ansi);
  }
  bool IsDBCSLeadByte(uint8_t byte) override { return files_->IsDBCSLeadByte(byte); }

 private:
  static std::string Native(std::string path) {
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
  }

  // The output is known by its name, or, where the system takes other names
  // for it (another letter case on Windows), as the same file.
  bool IsOwnFile(const std::string& folder, const std::string& name) const {
    return name == outputName_ || IsReplacingTemporary(name, outputName_) || IsPayloadTemporary(name, outputName_) ||
           (outputExists_ && SameFile(folder + "/" + name, ownOutput_));
  }

  using Skipped = std::vector<std::pair<std::string, std::string>>;  // name, why

  // The listing leaves out what it cannot look at: each such entry, and why.
  static void AddUnlisted(const std::string& folder, const std::set<std::string>& seen, Skipped* unlisted) {
    for (const UnlistedEntry& entry : UnlistedEntries(folder, seen)) {
      unlisted->emplace_back(entry.name, entry.danglingLink ? std::string("a link to nothing, not packed")
                                                            : std::string("cannot be read (") +
                                                                  std::strerror(entry.error) + "), not packed");
    }
  }

  std::unique_ptr<FileSystem> files_;
  std::string ownOutput_;
  std::string outputFolder_;
  std::string outputName_;
  bool outputExists_;
  SkippedEntry skipped_;
};

}  // namespace

namespace {

// The name under which `folder` lists the file at `path`, which may differ
// from the path's own on Windows (letter case, a short name).
std::string ListedName(const std::string& folder, const std::string& path) {
  const auto files = CreateHostFileSystem();
  FindData entry;
  auto search = files->FindFirstFileA(folder + "\\*", &entry);
  if (search) {
    do {
      if (!(entry.dwFileAttributes & kFileAttributeDirectory) && SameFile(folder + "/" + entry.cFileName, path)) {
        return entry.cFileName;
      }
    } while (files->FindNextFileA(*search, &entry));
  }
  return BaseName(path);
}

// Why writing `output` would replace a file that packing `folder` reads.
std::string OverwritesInputProblem(const std::string& output, const std::string& folder) {
  if (InspectPath(output).kind != PathInfo::kFile || !SameFile(FolderOf(output), folder)) return "";
  // An earlier launcher or container there is replaced, and never packed.
  std::vector<uint8_t> bytes;
  std::string unread;
  if (ReadFileBytes(output, &bytes, &unread) && OwnOutputKind(bytes.data(), uint32_t(bytes.size())) != nullptr) {
    return "";
  }
  return "is " + folder + ShownSeparator(folder) + PrintableName(ListedName(folder, output)) +
         ", a file of the folder being packed; kesmar-pack never writes over a file it packs";
}

}  // namespace

std::string OutputPathProblem(const std::string& output, const std::string& packedFolder) {
  if (!output.empty() && LastSeparator(output) == output.size() - 1) return "names a folder; -o takes a file name";
  const PathInfo target = InspectPath(output);
  if (target.kind == PathInfo::kFolder) return "is a folder; -o takes a file name";
  if (target.kind == PathInfo::kOther) return "exists and is not a regular file";
  const std::string folder = FolderOf(output);
  const PathInfo parent = InspectPath(folder);
  if (parent.kind == PathInfo::kMissing || parent.kind == PathInfo::kUnreachable) {
    return "cannot be written: folder \"" + folder + "\" " +
           (parent.kind == PathInfo::kMissing ? std::string("does not exist")
                                               : std::string("cannot be reached (") + std::strerror(parent.error) + ")");
  }
  if (parent.kind != PathInfo::kFolder) return "cannot be written: \"" + folder + "\" is not a folder";
  if (const int error = FolderWriteError(folder)) {
    return "cannot be written: folder \"" + folder + "\" is not writable (" + std::strerror(error) + ")";
  }
  return packedFolder.empty() ? "" : OverwritesInputProblem(output, packedFolder);
}

bool ReportOutputPathProblem(const std::string& output, std::ostream& err, const std::string& packedFolder) {
  const std::string problem = OutputPathProblem(output, packedFolder);
  if (!problem.empty()) err << output << ": " << problem << '\n';
  return !problem.empty();
}

std::unique_ptr<FileSystem> CreatePackInputFileSystem(const std::string& ownOutput, SkippedEntry skipped,
                                                      std::unique_ptr<FileSystem> files) {
  return std::make_unique<PackInputFileSystem>(ownOutput, std::move(skipped), std::move(files));
}

}  // namespace kesmar
