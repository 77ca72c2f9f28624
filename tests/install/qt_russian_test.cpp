// Qt's own texts (the folder browser, file dialogs, standard buttons) in Russian, as the
// program loads them at start-up, under a locale that is not Russian.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QLocale>
#include <QTranslator>

#include "platform/qt_russian.h"
#include "test_application.h"

namespace qelta {
namespace {

QStringList TextsOf(const QWidget& dialog) {
  QStringList texts;
  for (const QLabel* label : dialog.findChildren<QLabel*>()) texts << label->text();
  for (const QAbstractButton* button : dialog.findChildren<QAbstractButton*>()) {
    texts << button->text();
  }
  return texts;
}

TEST(QtRussianTexts, TheFolderBrowserSpeaksRussianUnderTheCLocale) {
  qelta::testing::App();
  const QLocale before;
  QLocale::setDefault(QLocale::c());
  QString why;
  QTranslator* translator = InstallQtRussianTranslations(&why);
  ASSERT_NE(translator, nullptr) << why.toStdString();

  // Qt's own widget dialog, as the folder browser shows it where the desktop has none.
  QFileDialog browser(nullptr, QStringLiteral("Выберите папку для установки"));
  browser.setOption(QFileDialog::DontUseNativeDialog);
  browser.setFileMode(QFileDialog::Directory);
  browser.setOption(QFileDialog::ShowDirsOnly);
  const QStringList texts = TextsOf(browser);
  EXPECT_TRUE(texts.contains(QStringLiteral("Отмена"))) << texts.join('|').toStdString();
  EXPECT_FALSE(texts.contains(QStringLiteral("Cancel"))) << texts.join('|').toStdString();
  EXPECT_FALSE(texts.contains(QStringLiteral("Look in:"))) << texts.join('|').toStdString();
  EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "&Yes"), QStringLiteral("&Да"));

  delete translator;  // the other tests of this program see Qt's texts as they were
  QLocale::setDefault(before);
  EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "&Yes"), QStringLiteral("&Yes"));
}

}  // namespace
}  // namespace qelta
