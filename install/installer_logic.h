#pragma once

#include <QString>
#include <ctime>
#include <optional>
#include <string>

#include "install/installation.h"
#include "platform/dialog_boxes.h"
#include "platform/folder_dialog.h"

namespace qelta {

// Shows the installation's progress at once, while the installation keeps the window busy.
class InstallStatusView {
 public:
  virtual ~InstallStatusView() = default;
  // Puts the text into the status line and shows it now; an empty text clears it.
  virtual void ShowInstallStatus(const QString& text) = 0;
};

// The install folder as typed made absolute: a leading "~" stands for the user's home; a
// relative folder (or "~name") has no place to go and gives nothing.
std::optional<std::string> AbsoluteInstallFolder(const std::string& typed, const std::string& home);

// The installer window's behaviour without a display: its fields, the choice of the folder and
// the installation. A window shows the fields and forwards the user's changes and clicks.
class InstallerLogic {
 public:
  enum class Outcome {
    // The installation did not happen or stopped; the window stays open.
    StayOpen,
    // The program is installed; the window closes and the installer process ends.
    Installed,
  };

  InstallerLogic(const InstallDependencies& deps, DialogBoxes& boxes, FolderDialog& folders,
                 InstallStatusView& status);

  // Fills the install folder. A running executable whose folder this user cannot write (a
  // system-wide package) is registered where it is: its own folder. Otherwise the folder of
  // the recorded installation, else the programs folder's "QELTA MONITOR". Reads the settings
  // store (StoreError on its failure).
  void FormCreate();
  // The window's title.
  static QString Caption();

  const std::string& Path() const { return path_; }
  void SetPath(std::string path) { path_ = std::move(path); }
  // Start the program at log-on (unchecked: no autostart entry, an earlier one removed).
  bool AutoRun = true;
  // Start the installed program with "/welcome" once the installation is done.
  bool RunAfterInstall = true;

  // Lets the user pick a folder; the program goes into its subfolder "QELTA MONITOR".
  void ChoosePathClick();
  // The installation. Failures of the stores throw StoreError (the window stays open).
  Outcome InstallButtonClick();

  // The folder under which programs are installed, with a trailing slash; empty when unknown.
  std::string GetProgramFilesDir() const;
  // The applications folder of the desktop's menu.
  std::string GetProgramsFolder() const { return deps_.places.programs_folder; }

 private:
  void ShowStatus(const std::string& text);
  // Puts the program at `target`, copying it unless it runs from there; `copied` tells which.
  bool CopyProgram(const std::string& target, bool& copied);
  void CreateLaunchers(const std::string& target);
  void SearchUps();
  void WriteUninstallEntry(const std::string& target);
  // Records the installation and writes the first settings: all of them on a first
  // installation, over an earlier one only those that are missing. True when any was kept.
  bool WriteFirstSettings(bool earlier_installation);

  InstallDependencies deps_;
  DialogBoxes& boxes_;
  FolderDialog& folders_;
  InstallStatusView& status_;
  std::string path_;
  std::time_t started_ = 0;  // when the installation that runs now began
};

}  // namespace qelta
