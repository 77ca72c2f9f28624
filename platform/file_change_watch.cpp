#include "platform/file_change_watch.h"

#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <QObject>

namespace qelta {
namespace {

// Everything that can change what the file's path holds.
constexpr uint32_t kFolderEvents = IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE | IN_CREATE | IN_DELETE |
                                   IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF;
// The watched folder itself went away or moved: the path no longer leads to what is watched.
constexpr uint32_t kWatchLost = IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT | IN_IGNORED;
// The file's own inode: written through any of its names, or linked elsewhere (link count).
constexpr uint32_t kFileEvents = IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE | IN_DONT_FOLLOW;
// The folder made again, or another folder moved to its name.
constexpr uint32_t kParentEvents = IN_CREATE | IN_MOVED_TO | IN_ONLYDIR;

std::string FolderPart(const std::string& path, std::string* name) {
  const size_t slash = path.find_last_of('/');
  if (name) *name = slash == std::string::npos ? path : path.substr(slash + 1);
  return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

FileChangeWatch::FileChangeWatch(const std::string& file_path) {
  folder_ = FolderPart(file_path, &name_);
  parent_ = FolderPart(folder_, &folder_name_);
  inotify_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (inotify_ >= 0) {
    notifier_ = std::make_unique<QSocketNotifier>(inotify_, QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { ReadEvents(); });
  }
  Watch();
  lost_ = false;
  WatchFileAndParent();
  CheckOtherPaths();
}

FileChangeWatch::~FileChangeWatch() {
  notifier_.reset();
  if (inotify_ >= 0) ::close(inotify_);
}

bool FileChangeWatch::Watch() {
  if (watch_ >= 0) return true;
  if (inotify_ < 0) return false;
  watch_ = ::inotify_add_watch(inotify_, folder_.c_str(), kFolderEvents | IN_ONLYDIR);
  if (watch_ < 0) {
    lost_ = true;
    return false;
  }
  if (lost_) {
    // Back after it was gone: what it holds now was never told.
    lost_ = false;
    WatchFileAndParent();
    TellLater();
  }
  return true;
}

void FileChangeWatch::WatchFileAndParent() {
  if (inotify_ < 0) return;
  const std::string path = folder_ + '/' + name_;
  const int file_watch = ::inotify_add_watch(inotify_, path.c_str(), kFileEvents);
  if (file_watch != file_watch_ && file_watch_ >= 0 && file_watch_ != watch_ &&
      file_watch_ != parent_watch_) {
    ::inotify_rm_watch(inotify_, file_watch_);
  }
  file_watch_ = file_watch;
  if (parent_watch_ < 0 && folder_ != parent_) {
    parent_watch_ = ::inotify_add_watch(inotify_, parent_.c_str(), kParentEvents);
  }
}

void FileChangeWatch::TellLater() {
  if (notifier_ == nullptr) return;
  QMetaObject::invokeMethod(
      notifier_.get(),
      [this] {
        CheckOtherPaths();
        if (handler_) handler_();
      },
      Qt::QueuedConnection);
}

void FileChangeWatch::Unwatch() {
  if (watch_ >= 0) ::inotify_rm_watch(inotify_, watch_);
  watch_ = -1;
}

bool FileChangeWatch::TellsEveryChange() {
  return Watch() && !other_paths_;
}

void FileChangeWatch::CheckOtherPaths() {
  // A symbolic link at the path can only appear through a change of the folder's entries,
  // which is told, so looking after each change is enough for it; a hard link made from
  // elsewhere is noticed at the next change told (the store's own writes break such links).
  struct stat info {};
  const std::string path = folder_ + '/' + name_;
  other_paths_ = ::lstat(path.c_str(), &info) == 0 && (S_ISLNK(info.st_mode) || info.st_nlink > 1);
}

void FileChangeWatch::ReadEvents() {
  bool changed = false;
  alignas(inotify_event) char buffer[4096];
  for (;;) {
    const ssize_t got = ::read(inotify_, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    for (ssize_t at = 0; at < got;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      if (event->mask & IN_Q_OVERFLOW) {
        changed = true;  // events were lost
      } else if (event->wd == watch_ && (event->mask & kWatchLost)) {
        changed = true;
        if (event->mask & IN_IGNORED) {
          watch_ = -1;  // the kernel has ended the watch itself
        } else {
          Unwatch();
        }
      } else if (event->wd == watch_ && event->len > 0 && name_ == event->name) {
        changed = true;
      } else if (event->wd == file_watch_ && file_watch_ >= 0) {
        changed = true;
        if (event->mask & IN_IGNORED) file_watch_ = -1;
      } else if (event->wd == parent_watch_ && parent_watch_ >= 0) {
        if (event->mask & IN_IGNORED) parent_watch_ = -1;
        if (event->len > 0 && folder_name_ == event->name) changed = true;
      }
    }
  }
  if (!changed) return;
  // Watch again before the handler reads, so that no change after its read goes untold.
  lost_ = false;  // told here already
  Watch();
  WatchFileAndParent();
  CheckOtherPaths();
  if (handler_) handler_();
}

}  // namespace qelta
