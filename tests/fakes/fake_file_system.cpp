// FakeFileSystem: in-memory folders and files, a call log, injected failures.
#include "tests/fakes/fake_file_system.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/security.h"

namespace kesmar::testing {
namespace {

class FakeFindHandle final : public FindHandle {
 public:
  std::vector<FindData> entries;
  size_t next = 0;
};

class FakeInputFile final : public InputFile {
 public:
  explicit FakeInputFile(std::string content) : content_(std::move(content)) {}
  uint32_t Read(void* buffer, uint32_t size) override {
    const size_t count = std::min<size_t>(size, content_.size() - position_);
    std::memcpy(buffer, content_.data() + position_, count);
    position_ += count;
    return uint32_t(count);
  }

 private:
  std::string content_;
  size_t position_ = 0;
};

class FakeOutputFile final : public OutputFile {
 public:
  FakeOutputFile(FakeFileSystem* owner, std::string path) : owner_(owner), path_(std::move(path)) {}
  bool Write(const void* data, uint32_t size) override {
    owner_->log().Add("Write(" + path_ + "," + std::to_string(size) + ")");
    if (owner_->ShouldFail("Write", path_)) return false;
    written_.append(static_cast<const char*>(data), size);
    owner_->Store(path_, written_);
    return true;
  }
  bool Close() override {
    owner_->log().Add("Close(" + path_ + ")");
    return !owner_->ShouldFail("Close", path_);
  }

 private:
  FakeFileSystem* owner_;
  std::string path_;
  std::string written_;
};

}  // namespace

FakeFileSystem::FakeFileSystem(CallLog* log) : log_(log ? log : &ownLog_) {}

std::string FakeFileSystem::Parent(const std::string& path) const {
  // As Windows reads a path: a "\\" after a lead byte is part of a character.
  size_t slash = std::string::npos;
  for (size_t i = 0; i < path.size(); ++i) {
    if (leadBytes_.Has(static_cast<unsigned char>(path[i]))) {
      ++i;
    } else if (path[i] == '\\') {
      slash = i;
    }
  }
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

void FakeFileSystem::Put(const std::string& path, Node node) {
  node.order = nextOrder_++;
  nodes_[path] = std::move(node);
}

void FakeFileSystem::AddFolder(const std::string& path) {
  Node node;
  node.folder = true;
  Put(path, node);
}

void FakeFileSystem::AddFile(const std::string& path, const std::string& content) {
  Node node;
  node.content = content;
  Put(path, node);
}

void FakeFileSystem::SetListedSize(const std::string& path, uint64_t size) {
  nodes_.at(path).listedSize = size;
}

bool FakeFileSystem::IsFolder(const std::string& path) const {
  auto it = nodes_.find(path);
  return it != nodes_.end() && it->second.folder;
}

std::string FakeFileSystem::Content(const std::string& path) const {
  auto it = nodes_.find(path);
  return it == nodes_.end() ? std::string() : it->second.content;
}

std::vector<std::string> FakeFileSystem::Children(const std::string& folder) const {
  std::vector<std::pair<uint64_t, std::string>> found;
  for (const auto& [path, node] : nodes_) {
    if (Parent(path) == folder) found.emplace_back(node.order, path);
  }
  std::sort(found.begin(), found.end());
  std::vector<std::string> paths;
  for (auto& entry : found) paths.push_back(entry.second);
  return paths;
}

void FakeFileSystem::Store(const std::string& path, const std::string& content) {
  auto it = nodes_.find(path);
  if (it != nodes_.end()) it->second.content = content;
}

std::unique_ptr<FindHandle> FakeFileSystem::FindFirstFileA(const std::string& pattern, FindData* data) {
  log_->Add("FindFirstFileA(" + pattern + ")");
  if (ShouldFail("FindFirstFileA", pattern)) return nullptr;
  const std::string folder = Parent(pattern);
  if (pattern.substr(folder.size()) != "\\*" || !IsFolder(folder)) return nullptr;

  auto search = std::make_unique<FakeFindHandle>();
  for (const char* dots : {".", ".."}) {
    if (!listsDots_) break;
    FindData entry;
    entry.cFileName = dots;
    entry.dwFileAttributes = kFileAttributeDirectory;
    search->entries.push_back(entry);
  }
  // Creation order, not sorted: tests see that callers keep the listing's order.
  for (const std::string& path : Children(folder)) {
    const Node& node = nodes_.at(path);
    FindData entry;
    entry.cFileName = path.substr(folder.size() + 1);
    entry.dwFileAttributes = node.folder ? kFileAttributeDirectory : 0x80;
    const uint64_t size = node.listedSize != UINT64_MAX ? node.listedSize : node.content.size();
    entry.nFileSizeHigh = uint32_t(size >> 32);
    entry.nFileSizeLow = uint32_t(size);
    search->entries.push_back(entry);
  }
  if (search->entries.empty()) return nullptr;  // FindFirstFileA: ERROR_FILE_NOT_FOUND
  *data = search->entries[search->next++];
  return search;
}

bool FakeFileSystem::FindNextFileA(FindHandle& handle, FindData* data) {
  log_->Add("FindNextFileA");
  auto& search = static_cast<FakeFindHandle&>(handle);
  if (search.next >= search.entries.size()) return false;
  *data = search.entries[search.next++];
  return true;
}

std::unique_ptr<InputFile> FakeFileSystem::OpenFileForReading(const std::string& path) {
  log_->Add("OpenFileForReading(" + path + ")");
  if (ShouldFail("OpenFileForReading", path)) return nullptr;
  auto it = nodes_.find(path);
  if (it == nodes_.end() || it->second.folder) return nullptr;
  return std::make_unique<FakeInputFile>(it->second.content);
}

std::unique_ptr<OutputFile> FakeFileSystem::OpenFileForWriting(const std::string& path) {
  log_->Add("OpenFileForWriting(" + path + ")");
  if (ShouldFail("OpenFileForWriting", path)) return nullptr;
  if (!IsFolder(Parent(path)) && !Parent(path).empty()) return nullptr;
  if (IsFolder(path)) return nullptr;
  if (Exists(path)) {
    nodes_[path].content.clear();
  } else {
    AddFile(path, "");
  }
  return std::make_unique<FakeOutputFile>(this, path);
}

std::unique_ptr<OutputFile> FakeFileSystem::CreateNewFileA(const std::string& path) {
  log_->Add("CreateNewFileA(" + path + ")");
  if (ShouldFail("CreateNewFileA", path) || Exists(path)) return nullptr;
  if (!IsFolder(Parent(path)) && !Parent(path).empty()) return nullptr;
  AddFile(path, "");
  return std::make_unique<FakeOutputFile>(this, path);
}

std::vector<std::string> FakeFileSystem::PathsStartingWith(const std::string& prefix) const {
  std::vector<std::string> paths;
  for (auto it = nodes_.lower_bound(prefix); it != nodes_.end() && it->first.compare(0, prefix.size(), prefix) == 0;
       ++it) {
    paths.push_back(it->first);
  }
  return paths;
}

uint32_t FakeFileSystem::GetFileAttributesA(const std::string& path) {
  log_->Add("GetFileAttributesA(" + path + ")");
  if (ShouldFail("GetFileAttributesA", path)) return kInvalidFileAttributes;
  auto it = nodes_.find(path);
  if (it == nodes_.end()) return kInvalidFileAttributes;
  return it->second.folder ? kFileAttributeDirectory : 0x80;
}

bool FakeFileSystem::CreateDirectoryA(const std::string& path, const SecurityDescriptor* security) {
  log_->Add("CreateDirectoryA(" + path + (security ? "," + security->Sddl() : "") + ")");
  if (ShouldFail("CreateDirectoryA", path)) return false;
  if (Exists(path)) return false;
  if (!Parent(path).empty() && !IsFolder(Parent(path))) return false;
  AddFolder(path);
  if (security != nullptr) nodes_[path].sddl = security->Sddl();
  return true;
}

std::string FakeFileSystem::FolderSddl(const std::string& path) const {
  auto it = nodes_.find(path);
  return it == nodes_.end() ? std::string() : it->second.sddl;
}

bool FakeFileSystem::DeleteFileA(const std::string& path) {
  log_->Add("DeleteFileA(" + path + ")");
  if (ShouldFail("DeleteFileA", path)) return false;
  auto it = nodes_.find(path);
  if (it == nodes_.end() || it->second.folder) return false;
  nodes_.erase(it);
  return true;
}

bool FakeFileSystem::RemoveDirectoryA(const std::string& path) {
  log_->Add("RemoveDirectoryA(" + path + ")");
  if (ShouldFail("RemoveDirectoryA", path)) return false;
  if (!IsFolder(path) || !Children(path).empty()) return false;
  nodes_.erase(path);
  return true;
}

bool FakeFileSystem::CopyFileA(const std::string& from, const std::string& to, bool failIfExists) {
  log_->Add("CopyFileA(" + from + "," + to + "," + (failIfExists ? "1" : "0") + ")");
  if (ShouldFail("CopyFileA", from)) return false;
  auto it = nodes_.find(from);
  if (it == nodes_.end() || it->second.folder) return false;
  if (Exists(to) && (failIfExists || IsFolder(to))) return false;
  if (!Parent(to).empty() && !IsFolder(Parent(to))) return false;
  AddFile(to, it->second.content);
  return true;
}

bool FakeFileSystem::MoveFileExA(const std::string& from, const std::string& to) {
  log_->Add("MoveFileExA(" + from + "," + to + ")");
  if (ShouldFail("MoveFileExA", from)) return false;
  auto it = nodes_.find(from);
  if (it == nodes_.end() || IsFolder(to)) return false;
  Node node = it->second;
  nodes_.erase(it);
  Put(to, node);
  return true;
}

uint32_t FakeFileSystem::GetTempPathA(uint32_t bufferLength, char* buffer) {
  log_->Add("GetTempPathA");
  if (ShouldFail("GetTempPathA", "")) return 0;
  if (tempPath_.size() + 1 > bufferLength) return uint32_t(tempPath_.size() + 1);
  std::memcpy(buffer, tempPath_.c_str(), tempPath_.size() + 1);
  return uint32_t(tempPath_.size());
}


namespace {

// Wide text in the log: ASCII as it is, anything else as \u{hex}.
std::string Printable(const std::wstring& text) {
  std::string out;
  char hex[16];
  for (wchar_t c : text) {
    if (c > 0 && c < 0x80) {
      out += char(c);
    } else {
      std::snprintf(hex, sizeof hex, "\\u{%x}", unsigned(c));
      out += hex;
    }
  }
  return out;
}

}  // namespace

void FakeFileSystem::SetWideTempPath(const std::wstring& path) {
  tempPathW_ = path;
  tempPath_.clear();
  for (wchar_t c : path) tempPath_ += (unsigned(c) <= 0xFF) ? char(c) : '?';
}

bool FakeFileSystem::GetTempPathW(std::wstring* path) {
  log_->Add("GetTempPathW");
  if (ShouldFail("GetTempPathW", "")) return false;
  *path = tempPathW_;
  return true;
}

bool FakeFileSystem::GetShortPathNameW(const std::wstring& path, std::wstring* shortPath) {
  log_->Add("GetShortPathNameW(" + Printable(path) + ")");
  if (ShouldFail("GetShortPathNameW", "")) return false;
  auto it = shortPaths_.find(path);
  if (it == shortPaths_.end()) return false;
  *shortPath = it->second;
  return true;
}

std::wstring FakeFileSystem::MultiByteToWideChar(const std::string& text) {
  std::wstring wide;
  for (char c : text) wide += wchar_t(static_cast<unsigned char>(c));
  return wide;
}

bool FakeFileSystem::WideCharToMultiByte(const std::wstring& text, std::string* ansi) {
  std::string bytes;
  for (wchar_t c : text) {
    if (unsigned(c) > 0xFF) return false;
    bytes += char(c);
  }
  *ansi = bytes;
  return true;
}

}  // namespace kesmar::testing
