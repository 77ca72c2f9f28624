#pragma once

#include <QSocketNotifier>
#include <functional>
#include <memory>
#include <string>

#include "platform/change_notice.h"

namespace qelta {

// Tells when a file may have changed, through inotify watches on its folder (replaced by a
// rename, created, removed or written in place), on the file itself (written or given
// another link through any path) and on the folder's parent (the folder made again after it
// went away). It costs nothing while nothing changes. It tells every change while the folder
// is watched and the file is reached by its path alone; TellsEveryChange() is false when the
// folder cannot be watched (missing, out of watches; each call tries again) and while the path
// is a symbolic link or the file has other hard links. A folder watched again after it was
// lost is told as a change, since the file may have been written meanwhile.
class FileChangeWatch : public ChangeNotice {
 public:
  explicit FileChangeWatch(const std::string& file_path);
  ~FileChangeWatch() override;
  FileChangeWatch(const FileChangeWatch&) = delete;
  FileChangeWatch& operator=(const FileChangeWatch&) = delete;

  bool TellsEveryChange() override;
  void SetChangeHandler(std::function<void()> handler) override { handler_ = std::move(handler); }

 private:
  // Watches the folder unless it is watched already; true when it is.
  bool Watch();
  // Watches the file now at the path (a new one after each replacement), and the folder's
  // parent while it can be.
  void WatchFileAndParent();
  // Tells the handler soon, from the event loop.
  void TellLater();
  void Unwatch();
  void ReadEvents();
  // Whether the file can be changed through another path (looked at after every change).
  void CheckOtherPaths();

  std::string folder_;
  std::string name_;
  std::string parent_;
  std::string folder_name_;
  int inotify_ = -1;
  int watch_ = -1;
  int file_watch_ = -1;
  int parent_watch_ = -1;
  // The folder's watch was lost: watching it again is a change to tell.
  bool lost_ = false;
  bool other_paths_ = false;
  std::unique_ptr<QSocketNotifier> notifier_;
  std::function<void()> handler_;
};

}  // namespace qelta
