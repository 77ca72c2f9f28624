#include "platform/tray_click_position.h"

#include <gtest/gtest.h>

#include <QLoggingCategory>
#include <QSize>
#include <QString>
#include <QStringList>

namespace qelta {
namespace {

// The toolkit's tray category, as the toolkit declares it; and one of someone else.
Q_LOGGING_CATEGORY(ToolkitTray, "qt.qpa.tray")
Q_LOGGING_CATEGORY(Elsewhere, "qelta.test.elsewhere")

QStringList& Passed() {
  static QStringList passed;
  return passed;
}

QtMessageHandler default_handler = nullptr;

// What reaches the handler that was there before: recorded, and shown as before.
void Recording(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  Passed() << QString::fromUtf8(context.category) + QStringLiteral(": ") + message;
  if (default_handler != nullptr) default_handler(type, context, message);
}

TEST(TrayClickPositionTest, TakesTheLoggedClickOnceAndPassesOtherMessagesOn) {
  default_handler = qInstallMessageHandler(Recording);
  TrayClickPosition::Listen();
  TrayClickPosition::Listen();  // a second call must not chain the handler to itself
  Passed().clear();

  // The click as the toolkit logs it, then reports it: taken once.
  qCDebug(ToolkitTray) << 12 << -34;
  EXPECT_EQ(TrayClickPosition::Take(), QPoint(12, -34));
  EXPECT_EQ(TrayClickPosition::Take(), std::nullopt);

  // The toolkit's other debug lines are no click and are not shown.
  qCDebug(ToolkitTray) << "" << QSize(16, 16);
  qCDebug(ToolkitTray) << 120 << "vertical";
  EXPECT_EQ(TrayClickPosition::Take(), std::nullopt);
  EXPECT_TRUE(Passed().isEmpty()) << Passed().join(QLatin1Char('\n')).toStdString();

  // Warnings of that category, and every other message, go on as before.
  qCWarning(ToolkitTray) << "tray warning";
  qCWarning(Elsewhere) << "other warning";
  ASSERT_EQ(Passed().size(), 2);
  EXPECT_TRUE(Passed()[0].contains(QStringLiteral("tray warning")));
  EXPECT_TRUE(Passed()[1].startsWith(QStringLiteral("qelta.test.elsewhere: ")));
}

TEST(TrayClickPositionTest, ReadsOnlyTwoIntegers) {
  EXPECT_EQ(TrayClickPosition::Parse(QStringLiteral("1350 750")), QPoint(1350, 750));
  EXPECT_EQ(TrayClickPosition::Parse(QStringLiteral("-5 0")), QPoint(-5, 0));
  EXPECT_EQ(TrayClickPosition::Parse(QStringLiteral("1350 750 3")), std::nullopt);
  EXPECT_EQ(TrayClickPosition::Parse(QStringLiteral("\"\" QList(QSize(16, 16))")), std::nullopt);
  EXPECT_EQ(TrayClickPosition::Parse(QStringLiteral("99999999999 1")), std::nullopt);
}

}  // namespace
}  // namespace qelta
