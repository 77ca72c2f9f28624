#include "platform/sound_player.h"

#include <canberra.h>

#include <QFile>
#include <cstdint>
#include <mutex>

namespace qelta {
namespace {

// The process's one libcanberra context with the id of the sound it played last.
class SharedContext {
 public:
  ~SharedContext() {
    if (context_ != nullptr) ca_context_destroy(context_);
  }

  void Play(const QByteArray& file) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (context_ == nullptr && !Create()) return;
    if (last_id_ != 0) ca_context_cancel(context_, last_id_);
    last_id_ = ++next_id_;
    if (last_id_ == 0) last_id_ = ++next_id_;
    // The file may change between plays, so it is never kept in a sample cache. Playback goes on
    // on libcanberra's side; its result is of no interest here.
    ca_context_play(context_, last_id_, CA_PROP_MEDIA_FILENAME, file.constData(),
                    CA_PROP_CANBERRA_CACHE_CONTROL, "never", nullptr);
  }

 private:
  bool Create() {
    if (ca_context_create(&context_) != CA_SUCCESS) {
      context_ = nullptr;
      return false;
    }
    ca_context_change_props(context_, CA_PROP_APPLICATION_NAME, "QELTA MONITOR",
                            CA_PROP_APPLICATION_ID, "qelta-monitor", nullptr);
    return true;
  }

  std::mutex mutex_;
  ca_context* context_ = nullptr;
  uint32_t next_id_ = 0;
  uint32_t last_id_ = 0;
};

SharedContext& Shared() {
  static SharedContext shared;
  return shared;
}

}  // namespace

void CanberraSoundPlayer::PlayFileAsync(const QString& path) {
  if (path.isEmpty()) return;
  Shared().Play(QFile::encodeName(path));
}

}  // namespace qelta
