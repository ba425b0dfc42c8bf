// CleanupList and its removal attempt.
#include "launcher/cleanup_list.h"

namespace kesmar {

CleanupList::CleanupList(FileSystem& fileSystem) : fileSystem_(fileSystem) {}

CleanupList::~CleanupList() { RemoveExtractedFiles(); }

void CleanupList::AddFile(const std::string& path) { files_.push_back(path); }

void CleanupList::SetFolder(const std::string& path) { folder_ = path; }

bool CleanupList::RemoveExtractedFiles() {
  // Downwards, so that taking entry i out never moves one still to be visited.
  for (size_t i = files_.size(); i-- > 0;) {
    const std::string& path = files_[i];
    // A path that cannot be queried is taken as gone: the font pass deletes
    // the extracted fonts itself and leaves their entries here.
    const bool gone = fileSystem_.GetFileAttributesA(path) == kInvalidFileAttributes;
    if (gone || fileSystem_.DeleteFileA(path)) files_.erase(files_.begin() + i);
  }

  if (!folder_.empty()) {
    const uint32_t attributes = fileSystem_.GetFileAttributesA(folder_);
    if (attributes == kInvalidFileAttributes) {
      folder_.clear();
    } else if ((attributes & kFileAttributeDirectory) != 0) {
      if (fileSystem_.RemoveDirectoryA(folder_)) folder_.clear();
    }
    // Something that is not a folder is never ours to delete: it stays set,
    // and every attempt reports that something is left.
  }
  return files_.empty() && folder_.empty();
}

}  // namespace kesmar
