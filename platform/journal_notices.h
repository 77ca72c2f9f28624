#pragma once

#include <QString>
#include <cstdio>
#include <string>

#include "platform/balloon.h"
#include "platform/error_reporter.h"

namespace qelta {

// Priorities of the system journal's standard-error protocol ("<N>" at the start of a line).
enum class JournalPriority { Critical = 2, Error = 3, Warning = 4, Notice = 5, Info = 6 };

// One line for the journal: "<N>" and the text, every line break and control character turned
// into a blank so that one notice stays one journal entry, and a final LF.
std::string JournalLine(JournalPriority priority, const QString& text);

// Balloons as journal lines on a stream (standard error under systemd): "<N>title: text". An
// error balloon is a warning, one that must stay until closed (a refused power-off) is
// critical, any other a notice.
class JournalBalloons : public BalloonSink {
 public:
  explicit JournalBalloons(std::FILE* stream = stderr) : stream_(stream) {}
  void ShowBalloon(const QString& title, const QString& text, BalloonIcon icon,
                   int timeout_ms) override;

 private:
  std::FILE* stream_;
};

// The application's error box as a journal line at the error priority.
class JournalErrorReporter : public ErrorReporter {
 public:
  explicit JournalErrorReporter(std::FILE* stream = stderr) : stream_(stream) {}
  void ShowError(const QString& message) override;

 private:
  std::FILE* stream_;
};

}  // namespace qelta
