#pragma once

#include <QString>

namespace qelta {

// Icon kinds of a balloon notification.
enum class BalloonIcon { Information = 1, Error = 3 };

// The time-out of a balloon the user must not miss: it stays until the user closes it (on a
// desktop's notification service, a critical notification).
inline constexpr int kBalloonStaysUntilClosed = 0;

// Shows a balloon (desktop notification) with a title, a text, an icon kind and a time-out.
class BalloonSink {
 public:
  virtual ~BalloonSink() = default;
  virtual void ShowBalloon(const QString& title, const QString& text, BalloonIcon icon,
                           int timeout_ms) = 0;
};

}  // namespace qelta
