#include "monitor/command_line.h"

#include "install/program_version.h"

namespace qelta {

std::optional<std::string> CommandLineText(const std::vector<std::string>& arguments) {
  if (arguments.empty()) return std::nullopt;
  if (arguments.front() == "--version")
    return std::string("qelta-monitor ") + kProgramVersion + '\n';
  if (arguments.front() != "--help") return std::nullopt;
  return "Использование: qelta-monitor [/welcome | /uninstall | --help | --version]\n"
         "       qelta-monitor --service [--config ФАЙЛ] [--search]\n"
         "\n"
         "QELTA MONITOR следит за UPS QELTA из области уведомлений. Первый запуск открывает\n"
         "окно установки.\n"
         "\n"
         "  /welcome    следить за UPS и показать окно приветствия\n"
         "  /uninstall  удалить программу (настройки и файл статистики остаются)\n"
         "  --help      показать эту справку\n"
         "  --version   показать версию\n"
         "  --service   следить за UPS без рабочего стола, как системная служба\n"
         "              (настройки: /etc/qelta-monitor/qelta-monitor.ini или --config ФАЙЛ;\n"
         "              --search находит UPS и записывает его порт в настройки)\n";
}

}  // namespace qelta
