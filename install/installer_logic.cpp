#include "install/installer_logic.h"

#include <ctime>

#include "install/install_texts.h"
#include "install/launchers.h"
#include "install/program_version.h"
#include "settings/autorun_store.h"
#include "settings/configuration_logic.h"
#include "settings/setting_keys.h"

namespace qelta {
namespace {

QString Text(const std::string& utf8) {
  return QString::fromStdString(utf8);
}

std::string WithTrailingSlash(const std::string& folder) {
  if (folder.empty() || folder.back() == '/') return folder;
  return folder + '/';
}

// The folder part of a path, with its trailing slash; empty when the path names no folder.
std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// Whether the store holds the value at all (an empty text included): two reads with different
// defaults agree only on a stored value.
bool HasValue(Settings& settings, const char* section, const char* key) {
  return settings.ReadString(section, key, "0") == settings.ReadString(section, key, "1");
}

// The folder part of a path without a trailing slash ("/" for the root).
std::string FolderNameOf(const std::string& path) {
  std::string folder = FolderOf(path);
  if (folder.size() > 1) folder.pop_back();
  return folder;
}

}  // namespace

std::optional<std::string> AbsoluteInstallFolder(const std::string& typed,
                                                 const std::string& home) {
  if (typed.starts_with('/')) return typed;
  if (typed == "~" || typed.starts_with("~/")) {
    if (!home.starts_with('/')) return std::nullopt;
    return home + typed.substr(1);
  }
  return std::nullopt;  // relative, or another user's "~name"
}

std::string InstallTargetFor(const std::string& folder, const std::string& executable_path) {
  const size_t slash = executable_path.rfind('/');
  const std::string file_name =
      slash == std::string::npos ? executable_path : executable_path.substr(slash + 1);
  return WithTrailingSlash(folder) + file_name;
}

InstallerLogic::InstallerLogic(const InstallDependencies& deps, DialogBoxes& boxes,
                               FolderDialog& folders, InstallStatusView& status)
    : deps_(deps), boxes_(boxes), folders_(folders), status_(status) {}

QString InstallerLogic::Caption() {
  return QString::fromUtf8(kInstallCaptionPrefix) + QString::fromUtf8(kProgramVersion);
}

std::string InstallerLogic::GetProgramFilesDir() const {
  return WithTrailingSlash(deps_.places.program_files_dir);
}

void InstallerLogic::FormCreate() {
  const std::string own_folder = FolderNameOf(deps_.executable_path);
  if (!own_folder.empty() && !deps_.files.FolderWritable(own_folder)) {
    // Registered in place, package upgrades reach the user; a copy would never be upgraded.
    path_ = own_folder;
    return;
  }
  path_ = FolderOf(deps_.settings.ReadString(kSettings, kInstalledTo, ""));
  if (path_.empty()) path_ = GetProgramFilesDir() + kInstallFolderName;
}

bool InstallerLogic::RegistersInPlace() const {
  std::string folder = path_;
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  const std::string own_folder = FolderNameOf(deps_.executable_path);
  return !folder.empty() && folder == own_folder && !deps_.files.FolderWritable(own_folder);
}

void InstallerLogic::ChoosePathClick() {
  // The browser opens where the program's folder is proposed to go; when that folder is not
  // there yet (a first installation into ~/.local/opt), at the nearest folder above it that is,
  // never at the process's current folder.
  std::string start = path_;
  while (!start.empty() && start.back() == '/') start.pop_back();
  start = FolderOf(start);
  while (!start.empty() && !deps_.files.Exists(start)) {
    while (!start.empty() && start.back() == '/') start.pop_back();
    start = FolderOf(start);
  }
  const QString chosen =
      folders_.ChooseFolder(QString::fromUtf8(kChooseFolderTitle), QString::fromStdString(start));
  if (chosen.isEmpty()) return;
  path_ = WithTrailingSlash(chosen.toStdString()) + kInstallFolderName;
}

void InstallerLogic::ShowStatus(const std::string& text) {
  status_.ShowInstallStatus(Text(text));
}

InstallerLogic::Outcome InstallerLogic::InstallButtonClick() {
  if (!boxes_.AskYesNo(Text(kProgramTitle), Text(kInstallQuestion))) return Outcome::StayOpen;
  // A reinstallation or an upgrade keeps the user's choices, the power policy above all.
  const bool earlier_installation = deps_.settings.ReadBool(kSettings, kInstalled, false) ||
                                    HasValue(deps_.settings, kSettings, kVersion);
  // Temporary files older than this installation were left by one that was killed.
  started_ = std::time(nullptr);

  if (path_.find('%') != std::string::npos) {
    boxes_.ShowError(Text(kErrorTitle), Text(kPercentInFolder + path_ + kChooseAnotherFolder));
    return Outcome::StayOpen;
  }
  // The launchers and the autostart entry must name the program exactly.
  if (!FitsDesktopEntry(InstallTargetFor(path_, deps_.executable_path))) {
    boxes_.ShowError(Text(kErrorTitle), Text(kNotUtf8Folder + path_ + kChooseAnotherFolder));
    return Outcome::StayOpen;
  }

  ShowStatus(kCreatingFolder);
  const std::optional<std::string> folder = AbsoluteInstallFolder(path_, deps_.places.home);
  if (!folder) {
    boxes_.ShowError(Text(kErrorTitle), Text(kNotAbsolute + path_ + kNotAbsoluteHint));
    ShowStatus("");
    return Outcome::StayOpen;
  }
  path_ = *folder;
  if (!deps_.files.MakeFolders(path_)) {
    boxes_.ShowError(Text(kErrorTitle), Text(kCannotCreate + path_));
    ShowStatus("");
    return Outcome::StayOpen;
  }

  ShowStatus(kSearchingRunning);
  deps_.close_running_monitors();

  const std::string target = InstallTargetFor(path_, deps_.executable_path);
  bool copied = false;
  if (!CopyProgram(target, copied)) {
    boxes_.ShowError(Text(kErrorTitle), Text(kCannotCopy + path_));
    ShowStatus("");
    return Outcome::StayOpen;
  }
  deps_.settings.WriteString(kSettings, kInstalledTo, target);
  deps_.settings.WriteBool(kSettings, kInstalledCopy, copied);

  // A program registered in a folder this user cannot write belongs to the system (a package):
  // its own menu entry and icons serve the user, and the package manager removes it. Launchers,
  // icon copies or an uninstall entry of the user's would shadow the package's and outlive it.
  const bool system_program = !copied && !deps_.files.FolderWritable(FolderNameOf(target));
  if (!system_program) {
    ShowStatus(kCreatingLaunchers);
    CreateLaunchers(target);
  }

  // The box decides: checked, the program starts at log-on; unchecked, it does not, even when
  // an earlier installation had it start.
  if (AutoRun) {
    deps_.autorun.WriteString(kRun, kAutorunValue, target);
  } else {
    deps_.autorun.DeleteValue(kRun, kAutorunValue);
  }

  SearchUps();

  ShowStatus(kFinishing);
  if (!system_program) WriteUninstallEntry(target);
  const bool settings_kept = WriteFirstSettings(earlier_installation);
  deps_.close_settings();

  ShowStatus("");
  boxes_.ShowInformation(Text(kProgramTitle),
                         Text(settings_kept ? std::string(kInstallDone) + "\n\n" + kSettingsKept
                                            : std::string(kInstallDone)));

  if (RunAfterInstall) {
    deps_.starter.StartDetached(QString::fromStdString(target),
                                {QString::fromUtf8(kWelcomeArgument)},
                                QString::fromStdString(FolderOf(target)));
  }
  return Outcome::Installed;
}

bool InstallerLogic::CopyProgram(const std::string& target, bool& copied) {
  InstallFiles& files = deps_.files;
  copied = false;
  // Started from its own install folder: the program is already where it goes.
  if (files.SameFile(deps_.executable_path, target)) return true;
  if (files.Exists(target) && !files.Remove(target)) {
    // What cannot be removed is set aside; neither step is checked.
    const std::string previous = target + ".prev";
    files.Remove(previous);
    files.Rename(target, previous);
  }
  ShowStatus(kCopying);
  files.RemoveStaleTemporaries(target, started_);
  copied = files.CopyReplacing(deps_.executable_path, target);
  return copied;
}

void InstallerLogic::CreateLaunchers(const std::string& target) {
  InstallFiles& files = deps_.files;
  // The icon first, so that the launchers find it; none of these outcomes is checked.
  for (const IconFile& icon : deps_.icon_files) {
    const std::string path = deps_.places.icon_theme_folder + '/' + icon.theme_path;
    files.RemoveStaleTemporaries(path, started_);
    if (files.MakeFolders(FolderOf(path))) files.WriteFile(path, icon.content);
  }
  const std::string folder = GetProgramsFolder() + '/' + kLauncherFolder;
  files.MakeFolders(folder);
  files.RemoveStaleTemporaries(folder + '/' + kProgramLauncher, started_);
  files.RemoveStaleTemporaries(folder + '/' + kUninstallLauncher, started_);
  files.WriteFile(folder + '/' + kProgramLauncher,
                  LauncherEntry(kProgramLauncherName, target, "", kIconName));
  files.WriteFile(folder + '/' + kUninstallLauncher,
                  LauncherEntry(kUninstallLauncherName, target, kUninstallArgument, kIconName));
}

void InstallerLogic::SearchUps() {
  PortSearch& search = deps_.search;
  // Whatever ends the search, the port-name override goes with it.
  struct SearchEnd {
    PortSearch& search;
    ~SearchEnd() { search.ClearOverride(); }
  } search_end{search};

  PortSearchResult result;
  for (const PortCandidate& candidate : search.InstallationOrder()) {
    const bool port = candidate.kind == PortCandidate::Kind::Port;
    ShowStatus(kSearchingUps +
               (port ? std::string(PortChoiceText(candidate.port_name.c_str()))
                     : candidate.adapter.device) +
               "...");
    result = search.Run({candidate});
    if (result.found) break;
  }
  if (!result.found) {
    std::string text = kUpsNotFound;
    const std::string hint = deps_.ups_access_hint ? deps_.ups_access_hint() : std::string();
    if (!hint.empty()) text += "\n\n" + hint;
    boxes_.ShowError(Text(kProgramTitle), Text(text));
    return;
  }
  std::string where = PortChoiceText(result.port_name.c_str());
  if (!result.bound_device.empty()) where += " (" + result.bound_device + ")";
  boxes_.ShowInformation(Text(kProgramTitle), Text(kUpsFound + where + "."));
  deps_.settings.WriteString(kSettings, kPort, result.port_name);
}

void InstallerLogic::WriteUninstallEntry(const std::string& target) {
  Settings& entry = deps_.uninstall_entry;
  entry.WriteString(kUninstallSection, kDisplayName,
                    std::string("QELTA MONITOR ") + kProgramVersion);
  entry.WriteString(kUninstallSection, kPublisher, kPublisherName);
  entry.WriteString(kUninstallSection, kUninstallString, target + ' ' + kUninstallArgument);
  entry.WriteString(kUninstallSection, kUrlInfoAbout, kMakerSite);
}

bool InstallerLogic::WriteFirstSettings(bool earlier_installation) {
  Settings& settings = deps_.settings;
  settings.WriteBool(kSettings, kInstalled, true);
  settings.WriteString(kSettings, kVersion, kProgramVersion);
  struct Default {
    const char* section;
    const char* key;
    int32_t value;
  };
  static constexpr Default kDefaults[] = {
      {kSettings, kInterval, 3},
      {kSense, kBattery, 1},
      {kSense, kBatteryTime, 10},
      {kSense, kBatteryPercent, 1},
      {kSense, kBatteryPercentValue, 80},
      {kSense, kBatteryShutdown, 1},
      {kSense, kBatteryShutdownCountdown, 60},
  };
  // A first installation writes every default; over an earlier one only the missing ones.
  bool kept = false;
  for (const Default& d : kDefaults) {
    if (earlier_installation && HasValue(settings, d.section, d.key)) {
      kept = true;
      continue;
    }
    settings.WriteInteger(d.section, d.key, d.value);
  }
  return kept;
}

}  // namespace qelta
