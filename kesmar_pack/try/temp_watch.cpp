// The temporary folder watched with inotify: a watch on it, and one on the launcher's folder as soon as that appears.
#include "kesmar_pack/try/temp_watch.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>

namespace kesmar {

bool IsExtractionFolderName(const std::string& name) {
  if (name.size() <= 7) return false;
  for (size_t i = 0; i < 7; ++i) {
    if (std::tolower(static_cast<unsigned char>(name[i])) != "kesmars"[i]) return false;
  }
  for (size_t i = 7; i < name.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(name[i]))) return false;
  }
  return true;
}

TempFolderWatch::~TempFolderWatch() {
  Finish();
  if (fd_ >= 0) ::close(fd_);
}

void TempFolderWatch::Finish() {
  for (const auto& held : open_) {
    struct stat st;
    for (ExtractedFile& file : files_) {
      if (file.name == held.first && ::fstat(held.second, &st) == 0) file.size = int64_t(st.st_size);
    }
    ::close(held.second);
  }
  open_.clear();
}

bool TempFolderWatch::Start(const std::string& folder, std::string* problem) {
  temp_ = folder;
  fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd_ >= 0) tempWatch_ = ::inotify_add_watch(fd_, folder.c_str(), IN_CREATE | IN_MOVED_TO | IN_ONLYDIR);
  if (fd_ < 0 || tempWatch_ < 0) {
    *problem = "cannot watch " + folder + " (" + std::strerror(errno) + ")";
    return false;
  }
  return true;
}

void TempFolderWatch::Watch(const std::string& name) {
  folderName_ = name;
  const std::string path = temp_ + "/" + name;
  folderWatch_ = ::inotify_add_watch(fd_, path.c_str(), IN_CREATE | IN_CLOSE_WRITE | IN_MOVED_TO | IN_ONLYDIR);
  // Files written before the watch took hold: whatever is there now.
  if (DIR* folder = ::opendir(path.c_str())) {
    while (const dirent* entry = ::readdir(folder)) {
      const std::string file = entry->d_name;
      if (file != "." && file != "..") Note(file, true, true);
    }
    ::closedir(folder);
  }
}

void TempFolderWatch::Note(const std::string& name, bool created, bool written) {
  ExtractedFile* file = nullptr;
  for (ExtractedFile& seen : files_) {
    if (seen.name == name) file = &seen;
  }
  if (file == nullptr) {
    files_.push_back({name, -1});
    file = &files_.back();
  }
  const std::string path = temp_ + "/" + folderName_ + "/" + name;
  auto held = open_.find(name);
  if (created && held == open_.end()) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd >= 0) held = open_.emplace(name, fd).first;
  }
  if (!written) return;
  struct stat st;
  if (held != open_.end()) {
    if (::fstat(held->second, &st) == 0 && S_ISREG(st.st_mode)) file->size = int64_t(st.st_size);
    ::close(held->second);
    open_.erase(held);
  } else if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
    file->size = int64_t(st.st_size);
  }
}

void TempFolderWatch::Read() {
  if (fd_ < 0) return;
  alignas(inotify_event) char buffer[16384];
  for (;;) {
    const ssize_t got = ::read(fd_, buffer, sizeof buffer);
    if (got <= 0) {
      if (got < 0 && errno == EINTR) continue;
      return;
    }
    for (ssize_t at = 0; at < got;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      at += ssize_t(sizeof(inotify_event) + event->len);
      const std::string name = event->len > 0 ? event->name : "";
      if (event->mask & IN_Q_OVERFLOW) {
        // Events were lost: look at the folder as it is.
        if (!folderName_.empty()) Watch(folderName_);
        continue;
      }
      if (event->wd == tempWatch_ && (event->mask & IN_ISDIR) && folderName_.empty() &&
          IsExtractionFolderName(name)) {
        Watch(name);
      } else if (event->wd == folderWatch_ && folderWatch_ >= 0 && !name.empty() && !(event->mask & IN_ISDIR)) {
        Note(name, (event->mask & (IN_CREATE | IN_MOVED_TO)) != 0, (event->mask & (IN_CLOSE_WRITE | IN_MOVED_TO)) != 0);
      }
    }
  }
}

}  // namespace kesmar
