#include <ctime>

#include "install/install_texts.h"
#include "install/installation.h"
#include "settings/setting_keys.h"
#include "stats/stats.h"

namespace qelta {
namespace {

QString Text(const char* utf8) {
  return QString::fromUtf8(utf8);
}

// Removes the folders of `path` from the innermost outwards, as long as they are empty, but
// never `stop` or a folder above it.
void RemoveEmptyFoldersUpTo(InstallFiles& files, std::string path, const std::string& stop) {
  for (;;) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return;
    path.resize(slash);
    if (path.size() <= stop.size() || path.compare(0, stop.size(), stop) != 0) return;
    if (!files.RemoveEmptyFolder(path)) return;
  }
}

// The parent folder of a path.
std::string Parent(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

}  // namespace

void UninstallProgram(const InstallDependencies& deps, DialogBoxes& boxes) {
  if (!boxes.AskYesNo(Text(kProgramTitle), Text(kUninstallQuestion))) return;

  deps.close_running_monitors();
  const std::time_t started = std::time(nullptr);

  deps.settings.WriteBool(kSettings, kInstalled, false);

  // The uninstall entry with the lock file of its store, and its folders when they are empty.
  InstallFiles& files = deps.files;
  const InstallPlaces& places = deps.places;
  const std::string entry = places.UninstallEntryPath();
  files.Remove(entry);
  files.Remove(entry + ".lock");
  RemoveEmptyFoldersUpTo(files, entry, Parent(Parent(places.uninstall_entry_folder)));

  deps.autorun.DeleteValue(kRun, kAutorunValue);

  const std::string launchers = places.programs_folder + '/' + kLauncherFolder;
  // With them what interrupted installations left beside them.
  for (const char* launcher : {kProgramLauncher, kUninstallLauncher}) {
    files.Remove(launchers + '/' + launcher);
    files.RemoveStaleTemporaries(launchers + '/' + launcher, started);
  }
  files.RemoveEmptyFolder(launchers);
  for (const IconFile& icon : deps.icon_files) {
    const std::string path = places.icon_theme_folder + '/' + icon.theme_path;
    files.Remove(path);
    files.RemoveStaleTemporaries(path, started);
    RemoveEmptyFoldersUpTo(files, path, places.icon_theme_folder);
  }

  // Only a copy that the installer made is removed (a running executable can be removed at
  // once); an executable registered where it is belongs to its package or to the user. An
  // installation recorded without the mark is left alone too.
  const std::string installed = deps.settings.ReadString(kSettings, kInstalledTo, "");
  // The statistics of the installed program: beside it, or in the user's data folder.
  const std::string program = installed.empty() ? deps.executable_path : installed;
  const std::string stats =
      StatsFilePathFor(program, files.FolderWritable(Parent(program)), UserDataHome());
  if (!installed.empty() && deps.settings.ReadBool(kSettings, kInstalledCopy, false)) {
    files.Remove(installed);
    files.RemoveStaleTemporaries(installed, started);
    // The folder the installer made for the copy goes with it when nothing else is in it.
    files.RemoveEmptyFolder(Parent(installed));
  }

  // What stays is the user's to remove.
  std::string done = std::string(kUninstallDone) + "\n\n" + kUninstallKept;
  if (!places.settings_file.empty())
    done += "\n" + std::string(kKeptSettings) + places.settings_file;
  if (!stats.empty()) done += "\n" + std::string(kKeptStats) + stats;
  boxes.ShowInformation(Text(kProgramTitle), QString::fromStdString(done));
}

}  // namespace qelta
