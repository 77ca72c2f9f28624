// A failing timer handler reaches the error box once and the event loop goes on.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>

#include "monitor/handler_guard.h"
#include "platform/error_reporter.h"
#include "platform/qt_timer.h"
#include "settings/settings.h"

namespace qelta {
namespace {

class RecordingErrors : public ErrorReporter {
 public:
  QStringList shown;
  void ShowError(const QString& message) override { shown << message; }
};

TEST(GuardedTimerTest, StoreFailureInATimerHandlerIsShownAndLaterTicksRun) {
  int argc = 1;
  char name[] = "guarded_timer_test";
  char* argv[] = {name, nullptr};
  QCoreApplication app(argc, argv);
  RecordingErrors errors;
  QtTimerFactory factory(
      [&](const std::function<void()>& handler) { RunGuarded(errors, handler); });
  auto timer = factory.CreateTimer(5, true);
  int ticks = 0;
  timer->SetHandler([&] {
    ++ticks;
    if (ticks == 1) throw StoreError("Failed to set data for 'Beeper'");
  });
  QElapsedTimer elapsed;
  elapsed.start();
  while (ticks < 3 && elapsed.elapsed() < 10000)
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
  EXPECT_GE(ticks, 3);
  EXPECT_EQ(errors.shown, QStringList{QStringLiteral("Failed to set data for 'Beeper'")});
}

}  // namespace
}  // namespace qelta
