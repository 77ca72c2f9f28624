#include "monitor/start_mode.h"

#include <filesystem>
#include <system_error>

#include "settings/settings.h"

namespace qelta {
namespace {

// True when both paths lead, through any links, to one existing file's canonical path.
bool SameCanonicalPath(const std::string& a, const std::string& b) {
  if (a.empty() || b.empty()) return false;
  std::error_code error;
  const std::filesystem::path first = std::filesystem::canonical(a, error);
  if (error) return false;
  const std::filesystem::path second = std::filesystem::canonical(b, error);
  return !error && first == second;
}

}  // namespace

StartChoice ChooseStartMode(const std::vector<std::string>& arguments, Settings& settings,
                            const std::string& executable_path) {
  const std::string first = arguments.empty() ? std::string() : arguments.front();
  if (first == "/uninstall") return {StartMode::Uninstaller, false};
  if (!settings.ReadBool("Settings", "Installed", false)) return {StartMode::Installer, false};
  if (settings.ReadString("Settings", "Version", "") == kProgramVersion) {
    return {StartMode::Monitor, first == "/welcome"};
  }
  if (SameCanonicalPath(executable_path, settings.ReadString("Settings", "InstalledTo", ""))) {
    return {StartMode::Monitor, first == "/welcome", true};
  }
  return {StartMode::Installer, false};
}

void RecordUpgradeInPlace(Settings& settings) {
  settings.WriteString("Settings", "Version", kProgramVersion);
}

}  // namespace qelta
