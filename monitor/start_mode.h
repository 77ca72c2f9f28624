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
  // The installed program was replaced where it stands by this build (a package upgrade, a new
  // copy put in the install folder): monitor mode, once this version is recorded.
  bool upgraded_in_place = false;
};

// Chooses the mode from the first argument (compared exactly, with case) and the stored
// installation state. `arguments` excludes the program name. An installation of another
// version runs the installer, unless `executable_path` (the running program) is the recorded
// `Settings`/`InstalledTo` itself, compared as canonical paths: that is an upgrade in place.
StartChoice ChooseStartMode(const std::vector<std::string>& arguments, Settings& settings,
                            const std::string& executable_path = {});

// Records this build's version for an installation upgraded in place.
void RecordUpgradeInPlace(Settings& settings);

}  // namespace qelta
