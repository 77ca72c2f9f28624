#include <QApplication>
#include <string>
#include <vector>

#include "monitor/qwatch_main.h"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("QELTA MONITOR"));
  // The monitor lives in the tray: closing its windows does not end it.
  QApplication::setQuitOnLastWindowClosed(false);

  std::vector<std::string> arguments;
  for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i]);

  qelta::TMainForm main_form(std::move(arguments));
  main_form.CreateInfoForm();
  if (main_form.TerminationRequested()) return 0;
  return QApplication::exec();
}
