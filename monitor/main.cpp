#include <QApplication>
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "monitor/command_line.h"
#include "monitor/qwatch_main.h"
#include "monitor/service_mode.h"
#include "platform/display_check.h"
#include "platform/qt_russian.h"

int main(int argc, char* argv[]) {
  // The system service: no display, no session.
  if (argc > 1 && std::string(argv[1]) == "--service") return qelta::RunServiceMode(argc, argv);

  const std::vector<std::string> given(argv + 1, argv + argc);
  // Answered without a display.
  if (const std::optional<std::string> text = qelta::CommandLineText(given)) {
    std::fputs(text->c_str(), stdout);
    return 0;
  }
  // One line instead of the toolkit's report on its platform plugins.
  const bool platform_named = std::find(given.begin(), given.end(), "-platform") != given.end();
  if (const std::string reason = qelta::MissingDisplayReason(platform_named); !reason.empty()) {
    std::fprintf(stderr, "qelta-monitor: %s\n", reason.c_str());
    return 1;
  }

  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("QELTA MONITOR"));
  // The monitor lives in the tray: closing its windows does not end it.
  QApplication::setQuitOnLastWindowClosed(false);
  // Qt's own dialogs in Russian like the program's windows, whatever the locale.
  QString why;
  if (qelta::InstallQtRussianTranslations(&why) == nullptr) {
    std::fprintf(stderr, "qelta-monitor: Qt's dialogs stay in English: %s\n", qPrintable(why));
  }

  // The toolkit has taken its own options out.
  std::vector<std::string> arguments;
  for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i]);
  qelta::TMainForm main_form(std::move(arguments));
  main_form.CreateInfoForm();
  if (main_form.TerminationRequested()) return 0;
  return QApplication::exec();
}
