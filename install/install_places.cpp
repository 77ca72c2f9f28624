#include "install/install_places.h"

#include <cstdlib>

namespace qelta {
namespace {

std::string Home() {
  const char* home = std::getenv("HOME");
  return home != nullptr ? home : "";
}

}  // namespace

std::string XdgDataHome() {
  const char* configured = std::getenv("XDG_DATA_HOME");
  if (configured != nullptr && configured[0] == '/') return configured;
  return Home() + "/.local/share";
}

InstallPlaces UserInstallPlaces() {
  const std::string home = Home();
  const std::string data = XdgDataHome();
  InstallPlaces places;
  places.program_files_dir = home.empty() ? std::string() : home + "/.local/opt/";
  places.programs_folder = data + "/applications";
  places.uninstall_entry_folder = data + "/QELTA/uninstall";
  places.uninstall_entry_file = "QELTA MONITOR.ini";
  places.icon_theme_folder = data + "/icons/hicolor";
  places.home = home;
  return places;
}

}  // namespace qelta
