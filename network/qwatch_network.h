#pragma once

#include <QDialog>
#include <functional>

class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QSpinBox;

namespace qelta {

class Settings;

// The "Сеть" dialog opened from the configuration dialog: whether the UPS is served to other
// computers, on which addresses and port, under which name, how long the power-off waits for
// them, and the users they log in as. Every change is stored at once, as in the configuration
// dialog, and `applied` is called after it so the server listens as the settings now say.
class TNetworkForm : public QDialog {
 public:
  using HandlerGuard = std::function<void(const std::function<void()>&)>;

  TNetworkForm(Settings& settings, std::function<void()> applied, HandlerGuard guard,
               QWidget* parent = nullptr);

  // Reads the settings into the controls.
  void FormCreate();

 private:
  void Store(const std::function<void()>& write);
  void FillUsers();
  void ChooseUser();
  void SaveUserClick();
  void RemoveUserClick();
  void RefreshHints();

  Settings& settings_;
  std::function<void()> applied_;
  HandlerGuard guard_;
  bool filling_ = false;

  QCheckBox* Serve = nullptr;
  QLineEdit* Listen = nullptr;
  QSpinBox* Port = nullptr;
  QLineEdit* UpsName = nullptr;
  QLineEdit* Description = nullptr;
  QSpinBox* SecondaryWait = nullptr;
  QListWidget* Users = nullptr;
  QLineEdit* UserName = nullptr;
  QLineEdit* UserPassword = nullptr;
  QCheckBox* UserSecondary = nullptr;
  QCheckBox* UserInstcmds = nullptr;
  QPushButton* SaveUser = nullptr;
  QPushButton* RemoveUser = nullptr;
  QLabel* ClientLine = nullptr;
  QLabel* Warning = nullptr;
  QPushButton* CloseButton = nullptr;
};

}  // namespace qelta
