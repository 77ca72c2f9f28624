#pragma once

#include <QString>
#include <functional>
#include <string>
#include <vector>

#include "install/install_files.h"
#include "install/install_places.h"
#include "install/program_icon.h"
#include "platform/dialog_boxes.h"
#include "platform/program_starter.h"
#include "settings/port_search.h"
#include "settings/settings.h"

namespace qelta {

// What the installer and the uninstaller work on.
struct InstallDependencies {
  // The program's settings.
  Settings& settings;
  // The start-up store, holding `Run`/"QELTA MONITOR".
  Settings& autorun;
  // The uninstall entry (at places.UninstallEntryPath()).
  Settings& uninstall_entry;
  // The port search over the program's own link.
  PortSearch& search;
  InstallFiles& files;
  ProgramStarter& starter;
  InstallPlaces places;
  // The program's icon as it goes into the icon theme.
  std::vector<IconFile> icon_files;
  // The full path of the running executable.
  std::string executable_path;
  // Asks every running monitor to close and waits until none is left (or a bound passes).
  std::function<void()> close_running_monitors;
  // Closes the settings store: nothing in this process uses it afterwards.
  std::function<void()> close_settings;
  // The line that the "UPS not found" box adds when the UPS is there but cannot be opened
  // (UpsAccessHint); empty when there is nothing to add.
  std::function<std::string()> ups_access_hint;
};

// Where the program goes for an install folder: the folder, a slash unless it already ends in
// one (an empty folder stays empty), and the file name of the running executable.
std::string InstallTargetFor(const std::string& folder, const std::string& executable_path);

// The uninstallation: asks the user, closes the running monitors, records that nothing is
// installed, removes the uninstall entry, the autostart entry, the launchers, the icon and the
// installed executable when the installer copied it there, and tells the user. The install folder,
// the executable's ".prev" copy, the statistics file and the settings stay. Declining the question
// changes nothing. Failures of the stores throw StoreError; the file removals are not checked.
void UninstallProgram(const InstallDependencies& deps, DialogBoxes& boxes);

}  // namespace qelta
