// The service's notices as journal lines: one line each, with the priority of what is told.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "platform/journal_notices.h"

namespace qelta {
namespace {

std::string Written(const std::function<void(std::FILE*)>& write) {
  std::FILE* stream = std::tmpfile();
  write(stream);
  std::rewind(stream);
  std::string text;
  for (int c = std::fgetc(stream); c != EOF; c = std::fgetc(stream)) text += static_cast<char>(c);
  std::fclose(stream);
  return text;
}

TEST(JournalNoticesTest, EachNoticeIsOneLineWithThePriorityOfWhatItTells) {
  const std::string lines = Written([](std::FILE* stream) {
    JournalBalloons balloons(stream);
    balloons.ShowBalloon(QString::fromUtf8("Состояние UPS"),
                         QString::fromUtf8("Пропала связь\r\nс UPS.\tx"), BalloonIcon::Error, 5000);
    balloons.ShowBalloon(QStringLiteral("T"), QStringLiteral("info"), BalloonIcon::Information,
                         5000);
    // A refused power-off stays until closed on a desktop: critical in the journal.
    balloons.ShowBalloon(QStringLiteral("T"), QStringLiteral("refused"), BalloonIcon::Error, 0);
    JournalErrorReporter errors(stream);
    errors.ShowError(QStringLiteral("Failed to set data for 'Beeper'\n"));
  });
  EXPECT_EQ(lines,
            "<4>Состояние UPS: Пропала связь с UPS. x\n"
            "<5>T: info\n"
            "<2>T: refused\n"
            "<3>Failed to set data for 'Beeper'\n");
}

}  // namespace
}  // namespace qelta
