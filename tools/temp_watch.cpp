// The temporary folder watched with inotify: a watch on it, and one on the launcher's folder as soon as that appears.
#include "tools/temp_watch.h"

#include <dirent.h>
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
  if (fd_ >= 0) ::close(fd_);
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
      if (file != "." && file != "..") Note(file, true);
    }
    ::closedir(folder);
  }
}

void TempFolderWatch::Note(const std::string& name, bool written) {
  ExtractedFile* file = nullptr;
  for (ExtractedFile& seen : files_) {
    if (seen.name == name) file = &seen;
  }
  if (file == nullptr) {
    files_.push_back({name, -1});
    file = &files_.back();
  }
  struct stat st;
  // The size once it is written; a file removed at once keeps the last size seen.
  if (written && ::lstat((temp_ + "/" + folderName_ + "/" + name).c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
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
        Note(name, (event->mask & (IN_CLOSE_WRITE | IN_MOVED_TO)) != 0);
      }
    }
  }
}

}  // namespace kesmar
