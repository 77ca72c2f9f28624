#include <QApplication>
#include <string>
#include <vector>

#include "monitor/qwatch_main.h"
#include "monitor/service_mode.h"

int main(int argc, char* argv[]) {
  // The system service: no display, no session.
  if (argc > 1 && std::string(argv[1]) == "--service") return qelta::RunServiceMode(argc, argv);
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
