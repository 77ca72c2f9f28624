#pragma once

#include <string>

namespace qelta {

// Where an installation puts its traces in the user's home.
struct InstallPlaces {
  // The folder under which programs are installed, with a trailing slash; empty when unknown.
  std::string program_files_dir;
  // The applications folder of the desktop's menu; the launchers go into its subfolder "QELTA".
  std::string programs_folder;
  // The folder and the file of the uninstall entry.
  std::string uninstall_entry_folder;
  std::string uninstall_entry_file;
  // The user's hicolor icon theme, into which the program's icon goes.
  std::string icon_theme_folder;
  // The user's home folder, for a typed install folder that begins with "~"; empty when unknown.
  std::string home;
  // The program's settings file, which the uninstaller leaves; empty when unknown.
  std::string settings_file;

  std::string UninstallEntryPath() const {
    return uninstall_entry_folder + '/' + uninstall_entry_file;
  }
};

// The places for the current user: programs under "$HOME/.local/opt/", launchers in
// "$XDG_DATA_HOME/applications/QELTA", the uninstall entry
// "$XDG_DATA_HOME/QELTA/uninstall/QELTA MONITOR.ini", the icon under
// "$XDG_DATA_HOME/icons/hicolor".
InstallPlaces UserInstallPlaces();

// The user's data folder: $XDG_DATA_HOME when it is set to an absolute path, else
// ~/.local/share.
std::string XdgDataHome();

}  // namespace qelta
