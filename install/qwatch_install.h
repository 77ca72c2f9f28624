#pragma once

#include <QDialog>
#include <functional>
#include <memory>

#include "install/installer_logic.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace qelta {

// The installer window: the install folder, the two choices and the Install and Cancel
// buttons, with a status line that shows the installation's progress. Start-up shows it
// modally; it closes with Accepted once the program is installed, with Rejected when the user
// cancels or closes it. Its behaviour is InstallerLogic's; every click runs inside the handler
// guard, so a failure of a store is shown and leaves the window open.
class TInstallForm : public QDialog, private InstallStatusView {
  Q_OBJECT

 public:
  // Runs an event handler so that a failure that ends it is shown (the main window's guard).
  using HandlerGuard = std::function<void(const std::function<void()>&)>;

  // The message boxes and the folder browser are the window's own unless given (tests).
  TInstallForm(const InstallDependencies& deps, HandlerGuard guard, QWidget* parent = nullptr,
               DialogBoxes* boxes = nullptr, FolderDialog* folders = nullptr);
  ~TInstallForm() override;

  // Fills the install folder from the settings (StoreError on a failure of the store).
  void FormCreate();

  InstallerLogic& Logic() { return *logic_; }

  // The controls, named as the form resource names them.
  QWidget* Panel1 = nullptr;
  QLabel* Image1 = nullptr;
  QLabel* Label1 = nullptr;
  QLabel* Label2 = nullptr;
  QLineEdit* Path = nullptr;
  QPushButton* ChoosePath = nullptr;
  QCheckBox* AutoRun = nullptr;
  QCheckBox* RunAfterInstall = nullptr;
  QLabel* Status = nullptr;
  QPushButton* InstallButton = nullptr;
  QPushButton* CancelButton = nullptr;

  void ChoosePathClick();
  void InstallButtonClick();

 public slots:
  void reject() override;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void CreateControls();
  void ShowInstallStatus(const QString& text) override;
  void SetControlsEnabled(bool enabled);
  // Shows the folder of the logic, and whether the program goes there or is registered there.
  void ShowPath();
  void ShowFolderLabel();

  std::unique_ptr<DialogBoxes> own_boxes_;
  std::unique_ptr<FolderDialog> own_folders_;
  std::unique_ptr<InstallerLogic> logic_;
  HandlerGuard guard_;
  bool installing_ = false;
};

}  // namespace qelta
