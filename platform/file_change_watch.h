#pragma once

#include <QSocketNotifier>
#include <functional>
#include <memory>
#include <string>

#include "platform/change_notice.h"

namespace qelta {

// Tells when a file may have changed, through an inotify watch on its folder: replaced by a
// rename, created, removed or written in place. It costs nothing while nothing changes. It
// tells every change while the folder is watched; when the folder cannot be watched (missing,
// out of watches) TellsEveryChange() is false, and each call tries again.
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
  void Unwatch();
  void ReadEvents();

  std::string folder_;
  std::string name_;
  int inotify_ = -1;
  int watch_ = -1;
  std::unique_ptr<QSocketNotifier> notifier_;
  std::function<void()> handler_;
};

}  // namespace qelta
