#pragma once

#include <QString>

namespace qelta {

// Plays a sound file without waiting for it. A file that cannot be played is silently ignored.
class SoundPlayer {
 public:
  virtual ~SoundPlayer() = default;
  virtual void PlayFileAsync(const QString& path) = 0;
};

// Plays WAV (and other libcanberra-readable) files through libcanberra. All players of the
// process share one libcanberra context, created at the first play. A new play stops a sound of
// the process that is still playing, so at most one plays at a time.
class CanberraSoundPlayer : public SoundPlayer {
 public:
  void PlayFileAsync(const QString& path) override;
};

}  // namespace qelta
