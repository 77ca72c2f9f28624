#pragma once

#include <string>
#include <vector>

#include "install/program_version.h"

namespace qelta {

class Settings;

// What this process does for its whole life.
enum class StartMode { Uninstaller, Installer, Monitor };

// Window titles: a process's identity for the others.
inline constexpr const char* kMonitorTitle = "QELTA MONITOR GENERAL FORM";
inline constexpr const char* kMonitorTakeoverTitle = "QELTA MONITOR 0.99.6 HIDDEN";
inline constexpr const char* kInstallerTitle = "QELTA MONITOR INSTALLER FORM";
inline constexpr const char* kUninstallerTitle = "QELTA MONITOR UNINSTALLER FORM";

struct StartChoice {
  StartMode mode;
  bool show_welcome;  // monitor mode started with "/welcome"
};

// Chooses the mode from the first argument (compared exactly, with case) and the stored
// installation state. `arguments` excludes the program name.
StartChoice ChooseStartMode(const std::vector<std::string>& arguments, Settings& settings);

}  // namespace qelta
