// The installer, welcome and About windows (offscreen).
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QEnterEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "install/qwatch_about.h"
#include "install/qwatch_install.h"
#include "install/qwatch_welcome.h"
#include "install/window_parts.h"
#include "install_fixture.h"
#include "monitor/handler_guard.h"
#include "platform/error_reporter.h"
#include "platform/web_pages.h"
#include "test_application.h"

namespace qelta::testing {
namespace {

QString Utf8(const char* text) {
  return QString::fromUtf8(text);
}

class RecordingReporter : public ErrorReporter {
 public:
  std::vector<std::string> errors;
  void ShowError(const QString& message) override { errors.push_back(message.toStdString()); }
};

class FakePages : public WebPages {
 public:
  std::vector<std::string> opened;
  void Open(const QString& address) override { opened.push_back(address.toStdString()); }
};

class InstallFormTest : public InstallFixture {
 protected:
  void SetUp() override {
    App();
    InstallFixture::SetUp();
    form = std::make_unique<TInstallForm>(
        Deps(), [this](const std::function<void()>& handler) { RunGuarded(reporter, handler); },
        nullptr, &boxes, &folders);
    form->FormCreate();
    form->show();
  }
  void TearDown() override { form.reset(); }

  RecordingReporter reporter;
  std::unique_ptr<TInstallForm> form;
};

TEST_F(InstallFormTest, ProgramOfTheSystemIsRegisteredNotInstalled) {
  // As from a package: the executable's folder is not the user's to write.
  files.read_only.insert(base + "/build");
  TInstallForm packaged(
      Deps(), [this](const std::function<void()>& handler) { RunGuarded(reporter, handler); },
      nullptr, &boxes, &folders);
  packaged.FormCreate();
  EXPECT_EQ(packaged.Path->text().toStdString(), base + "/build");
  EXPECT_EQ(packaged.Label2->text(), Utf8("Программа будет зарегистрирована в папке:"));
  // Another folder typed in: the program is copied there, and the line says so.
  QTest::keyClick(packaged.Path, Qt::Key_X);
  EXPECT_EQ(packaged.Label2->text(), Utf8("Программа будет установлена в папку:"));
}

TEST_F(InstallFormTest, ShowsItsTextsAndTheProgressBetweenTheSteps) {
  EXPECT_EQ(form->windowTitle(), Utf8("QELTA MONITOR v0.99.6"));
  EXPECT_EQ(form->Label1->text(), Utf8("Установка программы"));
  EXPECT_EQ(form->Label2->text(), Utf8("Программа будет установлена в папку:"));
  EXPECT_EQ(form->Path->text().toStdString(), install_folder);
  EXPECT_EQ(form->ChoosePath->text(), Utf8("&Выбрать"));
  EXPECT_EQ(form->AutoRun->text(), Utf8("Автоматически запускать программу при входе в систему"));
  EXPECT_EQ(form->RunAfterInstall->text(), Utf8("Запустить программу после окончания установки"));
  EXPECT_TRUE(form->AutoRun->isChecked());
  EXPECT_TRUE(form->RunAfterInstall->isChecked());
  EXPECT_EQ(form->InstallButton->text(), Utf8("&Установить"));
  EXPECT_TRUE(form->InstallButton->isDefault());
  EXPECT_EQ(form->CancelButton->text(), Utf8("Отмена"));
  EXPECT_GE(form->width(), 472);
  EXPECT_GE(form->height(), 190);

  // What the status line shows while each step runs.
  probe.answering = {"COM1"};
  std::vector<std::string> seen;
  auto state = [&] {
    return form->Status->text().toStdString() +
           (form->InstallButton->isEnabled() ? "" : " (controls off)");
  };
  boxes.while_open = [&] { seen.push_back("box: " + state()); };
  while_closing = [&] { seen.push_back("closing: " + state()); };
  form->InstallButton->click();
  EXPECT_EQ(seen, (std::vector<std::string>{
                      "box: ",
                      "closing: Поиск запущенной программы... (controls off)",
                      "box: Поиск UPS QELTA: COM1... (controls off)",
                      "box:  (controls off)",
                  }));
  EXPECT_EQ(form->result(), QDialog::Accepted);
  EXPECT_FALSE(form->isVisible());
}

TEST_F(InstallFormTest, ControlsFeedTheInstallation) {
  form->Path->clear();
  QTest::keyClicks(form->Path, QString::fromStdString(base + "/elsewhere"));
  EXPECT_EQ(form->Logic().Path(), base + "/elsewhere");
  form->AutoRun->click();
  form->RunAfterInstall->click();
  EXPECT_FALSE(form->Logic().AutoRun);
  EXPECT_FALSE(form->Logic().RunAfterInstall);
  folders.chosen = QString::fromStdString(base + "/chosen");
  form->ChoosePath->click();
  EXPECT_EQ(form->Path->text().toStdString(), base + "/chosen/QELTA MONITOR");
  form->InstallButton->click();
  EXPECT_EQ(ReadFile(base + "/chosen/QELTA MONITOR/qelta-monitor"), "the program, new build");
  EXPECT_EQ(journal.Only({"autorun", "start"}),
            (std::vector<std::string>{"autorun -Run/QELTA MONITOR"}));
}

TEST_F(InstallFormTest, StoreFailureIsShownAndTheWindowStaysOpen) {
  entry.failing_key = "URLInfoAbout";
  form->InstallButton->click();
  EXPECT_EQ(reporter.errors, (std::vector<std::string>{"Failed to set data for 'URLInfoAbout'"}));
  EXPECT_TRUE(form->isVisible());
  EXPECT_TRUE(form->InstallButton->isEnabled());
  EXPECT_TRUE(form->CancelButton->isEnabled());
  // The user may try again once the cause is gone.
  entry.failing_key.clear();
  form->InstallButton->click();
  EXPECT_EQ(form->result(), QDialog::Accepted);
}

TEST_F(InstallFormTest, CancelClosesWithoutInstalling) {
  form->CancelButton->click();
  EXPECT_EQ(form->result(), QDialog::Rejected);
  EXPECT_FALSE(form->isVisible());
  EXPECT_TRUE(journal.lines.empty());
}

TEST(WelcomeFormTest, EnterOpensTheConfigurationAndTheButtonsDoTheirJobs) {
  App();
  FakePages pages;
  int configured = 0;
  TWelcomeForm form(pages, [&] { ++configured; });
  EXPECT_EQ(form.windowTitle(), Utf8("QELTA MONITOR"));
  EXPECT_EQ(form.Label1->text(), Utf8("Спасибо за Ваш выбор!"));
  EXPECT_EQ(form.SiteButton->text(), Utf8("Сайт QELTA"));
  EXPECT_EQ(form.SetupButton->text(), Utf8("Настроить программу"));
  EXPECT_EQ(form.CloseButton->text(), Utf8("Закрыть"));
  EXPECT_GE(form.width(), 336);
  EXPECT_GE(form.height(), 253);

  form.show();
  QApplication::setActiveWindow(&form);
  EXPECT_EQ(form.focusWidget(), form.SetupButton);
  QTest::keyClick(&form, Qt::Key_Return);
  EXPECT_EQ(configured, 1);
  EXPECT_FALSE(form.isVisible());

  form.show();
  form.SiteButton->click();
  EXPECT_EQ(pages.opened, (std::vector<std::string>{"https://www.qelta.example/"}));
  EXPECT_FALSE(form.isVisible());
  form.show();
  form.CloseButton->click();
  EXPECT_FALSE(form.isVisible());
  EXPECT_EQ(configured, 1);
  EXPECT_EQ(pages.opened.size(), 1u);
}

TEST(AboutFormTest, VersionLineLinksAndTheirColours) {
  App();
  FakePages pages;
  int forgotten = 0;
  TAboutForm form(pages, [&] { ++forgotten; });
  EXPECT_EQ(form.windowTitle(), Utf8("QELTA MONITOR: О программе"));
  form.FormCreate();
  EXPECT_EQ(form.Label1->text(), Utf8("QELTA UPS MONITOR версия 0.99.6"));
  // Every occurrence, in any case.
  form.Label1->setText(QStringLiteral("X.YY x.yy X.yY"));
  form.FormCreate();
  EXPECT_EQ(form.Label1->text(), QStringLiteral("0.99.6 0.99.6 0.99.6"));
  EXPECT_EQ(form.Button1->text(), Utf8("&Закрыть"));
  EXPECT_TRUE(form.Button1->isDefault());
  // The licence that debian/copyright and the AppStream metadata give (GPL-3.0-or-later).
  EXPECT_EQ(form.LicenseLabel->text(), Utf8("Лицензия: GNU GPL 3 или новее"));
  form.show();
  EXPECT_TRUE(form.LicenseLabel->isVisible());

  const QColor navy(0, 0, 128);
  const QColor red(255, 0, 0);
  for (HoverLabel* link : {form.Label2, form.Label3}) {
    EXPECT_EQ(link->cursor().shape(), Qt::PointingHandCursor);
    EXPECT_EQ(link->palette().color(QPalette::WindowText), navy);
    QEnterEvent enter(QPointF(2, 2), QPointF(2, 2), QPointF(2, 2));
    QApplication::sendEvent(link, &enter);
    EXPECT_EQ(link->palette().color(QPalette::WindowText), red);
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(link, &leave);
    EXPECT_EQ(link->palette().color(QPalette::WindowText), navy);
  }
  QTest::mouseClick(form.Label2, Qt::LeftButton);
  QTest::mouseClick(form.Label3, Qt::LeftButton);
  EXPECT_EQ(pages.opened, (std::vector<std::string>{"https://www.qelta.example/",
                                                    "https://monitor.qelta.example/"}));
  // From the keyboard: the links are Tab stops, Enter or Space opens them, and the focus
  // shows as the pointer does.
  for (HoverLabel* link : {form.Label2, form.Label3}) {
    EXPECT_EQ(link->focusPolicy() & Qt::TabFocus, Qt::TabFocus);
    QFocusEvent in(QEvent::FocusIn, Qt::TabFocusReason);
    QApplication::sendEvent(link, &in);
    EXPECT_EQ(link->palette().color(QPalette::WindowText), red);
    QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
    QApplication::sendEvent(link, &out);
    EXPECT_EQ(link->palette().color(QPalette::WindowText), navy);
  }
  QTest::keyClick(form.Label2, Qt::Key_Return);
  QTest::keyClick(form.Label3, Qt::Key_Space);
  QTest::keyClick(form.Label3, Qt::Key_A);
  EXPECT_EQ(pages.opened.size(), 4u);
  EXPECT_EQ(pages.opened[2], "https://www.qelta.example/");
  EXPECT_EQ(pages.opened[3], "https://monitor.qelta.example/");

  // The close box hides the window and keeps it; its own button closes it and forgets it.
  form.close();
  EXPECT_FALSE(form.isVisible());
  EXPECT_EQ(forgotten, 0);
  form.show();
  form.Button1->click();
  EXPECT_FALSE(form.isVisible());
  EXPECT_EQ(forgotten, 1);
}

}  // namespace
}  // namespace qelta::testing
