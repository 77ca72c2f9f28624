#include "monitor/handler_guard.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <stdexcept>

#include "platform/message_box_error_reporter.h"
#include "settings/settings.h"
#include "settings_test_support.h"
#include "test_application.h"

namespace qelta {
namespace {

using testing::RecordingReporter;

TEST(HandlerGuard, FailureShowsOneErrorAndTheNextHandlerRuns) {
  RecordingReporter reporter;
  int ran = 0;
  const std::function<void()> failing = Guarded(reporter, [&] {
    ++ran;
    throw StoreError("Failed to set data for 'Port'");
  });
  const std::function<void()> next = Guarded(reporter, [&] { ++ran; });

  failing();
  next();
  EXPECT_EQ(ran, 2);
  EXPECT_EQ(reporter.messages, QStringList{"Failed to set data for 'Port'"});

  RunGuarded(reporter, [] {});
  EXPECT_EQ(reporter.messages.size(), 1);
  RunGuarded(reporter, [] { throw std::runtime_error("something else"); });
  EXPECT_EQ(reporter.messages, (QStringList{"Failed to set data for 'Port'", "something else"}));
}

// Stands in for the box: while "open", it runs what the event loop would run meanwhile.
class NestingReporter : public MessageBoxErrorReporter {
 public:
  std::function<void()> while_open;
  QStringList shown;

 protected:
  void ShowBox(const QString& message) override {
    shown.append(message);
    if (auto nested = std::exchange(while_open, nullptr)) nested();
  }
};

TEST(MessageBoxErrorReporter, SameMessageIsNotStackedWhileItsBoxIsOpen) {
  NestingReporter reporter;
  reporter.while_open = [&] {
    reporter.ShowError("Failed to get data for 'Perform'");  // the same failure, a tick later
    reporter.ShowError("Failed to get data for 'Port'");     // another failure
  };
  reporter.ShowError("Failed to get data for 'Perform'");
  EXPECT_EQ(reporter.shown,
            (QStringList{"Failed to get data for 'Perform'", "Failed to get data for 'Port'"}));
  // Once closed, the same failure is shown again.
  reporter.ShowError("Failed to get data for 'Perform'");
  EXPECT_EQ(reporter.shown.size(), 3);
}

TEST(MessageBoxErrorReporter, ShowsAnApplicationModalErrorBox) {
  // The program's one application object: a second one, or one destroyed here, would leave
  // the widget tests that run later without an application.
  testing::TestApplication();

  QString title, text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QMessageBox::StandardButtons buttons;
  Qt::WindowModality modality = Qt::NonModal;
  int polls = 0;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr) {
      if (++polls > 200) {  // give up rather than hang
        for (QWidget* widget : QApplication::topLevelWidgets()) widget->close();
      }
      return;
    }
    title = box->windowTitle();
    text = box->text();
    icon = box->icon();
    buttons = box->standardButtons();
    modality = box->windowModality();
    box->button(QMessageBox::Ok)->click();
  });
  poll.start(10);

  MessageBoxErrorReporter reporter;
  reporter.ShowError("Failed to create key Stats");
  poll.stop();

  EXPECT_EQ(title, "QELTA MONITOR");
  EXPECT_EQ(text, "Failed to create key Stats");
  EXPECT_EQ(icon, QMessageBox::Critical);
  EXPECT_EQ(buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
  EXPECT_EQ(modality, Qt::ApplicationModal);
}

}  // namespace
}  // namespace qelta
