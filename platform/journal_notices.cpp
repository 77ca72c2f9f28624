#include "platform/journal_notices.h"

namespace qelta {
namespace {

void Write(std::FILE* stream, const std::string& line) {
  std::fputs(line.c_str(), stream);
  std::fflush(stream);
}

}  // namespace

std::string JournalLine(JournalPriority priority, const QString& text) {
  QString flat = text;
  for (QChar& c : flat) {
    if (c.unicode() < 0x20 || c.unicode() == 0x7f) c = QLatin1Char(' ');
  }
  return "<" + std::to_string(static_cast<int>(priority)) + ">" + flat.simplified().toStdString() +
         "\n";
}

void JournalBalloons::ShowBalloon(const QString& title, const QString& text, BalloonIcon icon,
                                  int timeout_ms) {
  JournalPriority priority = JournalPriority::Notice;
  if (icon == BalloonIcon::Error) {
    priority = timeout_ms <= 0 ? JournalPriority::Critical : JournalPriority::Warning;
  }
  Write(stream_, JournalLine(priority, title + QStringLiteral(": ") + text));
}

void JournalErrorReporter::ShowError(const QString& message) {
  Write(stream_, JournalLine(JournalPriority::Error, message));
}

}  // namespace qelta
