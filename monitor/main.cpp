#include <QApplication>
#include <cstdio>
#include <string>
#include <vector>

#include "monitor/qwatch_main.h"
#include "platform/qt_russian.h"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("QELTA MONITOR"));
  // The monitor lives in the tray: closing its windows does not end it.
  QApplication::setQuitOnLastWindowClosed(false);
  // Qt's own dialogs in Russian like the program's windows, whatever the locale.
  QString why;
  if (qelta::InstallQtRussianTranslations(&why) == nullptr) {
    std::fprintf(stderr, "qelta-monitor: Qt's dialogs stay in English: %s\n", qPrintable(why));
  }

  std::vector<std::string> arguments;
  for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i]);

  qelta::TMainForm main_form(std::move(arguments));
  main_form.CreateInfoForm();
  if (main_form.TerminationRequested()) return 0;
  return QApplication::exec();
}
