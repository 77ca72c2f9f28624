#include "monitor/start_mode.h"

#include "settings/settings.h"

namespace qelta {

StartChoice ChooseStartMode(const std::vector<std::string>& arguments, Settings& settings) {
  const std::string first = arguments.empty() ? std::string() : arguments.front();
  if (first == "/uninstall") return {StartMode::Uninstaller, false};
  const bool installed = settings.ReadBool("Settings", "Installed", false);
  if (!installed || settings.ReadString("Settings", "Version", "") != kProgramVersion) {
    return {StartMode::Installer, false};
  }
  return {StartMode::Monitor, first == "/welcome"};
}

}  // namespace qelta
