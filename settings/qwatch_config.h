#pragma once

#include <QDialog>
#include <functional>
#include <map>

#include "settings/configuration_logic.h"

class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QToolButton;

namespace qelta {

class FileNameEdit;
class PortList;

// The configuration dialog: every setting of the program in one window, stored the moment it
// changes (no OK, no Cancel). The main window creates it on first use and keeps it; closing it
// only hides it. Its behaviour is ConfigurationLogic's; the window shows the controls' states
// and forwards the user's changes, each inside the handler guard.
//
// The layout keeps the designed grid (a white header band with the logo, general settings on
// the left, the battery group on the right, the report row and the close button below) and
// widens its columns and rows as far as the desktop's font needs, so no caption is clipped.
class TConfigurationForm : public QDialog {
  Q_OBJECT

 public:
  // Runs an event handler so that a failure that ends it is shown (the main window's guard).
  using HandlerGuard = std::function<void(const std::function<void()>&)>;

  TConfigurationForm(const ConfigurationDependencies& deps, HandlerGuard guard,
                     QWidget* parent = nullptr);
  ~TConfigurationForm() override;

  // Fills the controls from the stores; a store failure (StoreError) is thrown to the caller.
  void FormCreate();

  ConfigurationLogic& Logic() { return logic_; }
  // The widget of a control (the field with its browse button for SenseSound).
  QWidget* Control(ConfigControl control) const;
  // The header band, its logo and the dividing lines.
  QList<QWidget*> Decorations() const;
  // Shows the "Сеть..." button, which calls `open` (the network settings live in a dialog of
  // their own).
  void SetNetworkSettingsOpener(std::function<void()> open);

  // The controls, named as the form resource names them.
  QLabel* Label1 = nullptr;
  QLabel* Label2 = nullptr;
  PortList* Port = nullptr;
  QPushButton* Search = nullptr;
  QLabel* Label8 = nullptr;
  QComboBox* Interval = nullptr;
  QCheckBox* CloseInformationOnDeactivateCheckbox = nullptr;
  QCheckBox* PopupBaloonIn2SecsCheckBox = nullptr;
  QCheckBox* CatchStats = nullptr;
  QCheckBox* AutoRun = nullptr;
  QCheckBox* WarnOnModeChangeCheckbox = nullptr;
  QCheckBox* SenseBattery = nullptr;
  QLabel* SenseLabel1 = nullptr;
  QSpinBox* SenseTime = nullptr;
  QLabel* SenseLabel2 = nullptr;
  QCheckBox* SenseBatteryPercent = nullptr;
  QLabel* SenseLabel4 = nullptr;
  QSpinBox* SenseBatteryPercentValue = nullptr;
  QLabel* SenseLabel5 = nullptr;
  QCheckBox* SensePlaySound = nullptr;
  FileNameEdit* SenseSound = nullptr;
  QToolButton* SenseSoundPreview = nullptr;
  QCheckBox* SenseShutdown = nullptr;
  QLabel* Label3 = nullptr;
  QSpinBox* SenseShutdownCountdown = nullptr;
  QLabel* SenseLabel3 = nullptr;
  QCheckBox* PerformPost = nullptr;
  QLineEdit* PostURL = nullptr;
  QComboBox* PostInterval = nullptr;
  QPushButton* CloseButton = nullptr;
  QPushButton* NetworkButton = nullptr;

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  std::function<void()> open_network_settings_;
  void CreateControls();
  // Accessible names, descriptions and the labels linked to their controls.
  void NameControls();
  void ConnectControls();
  void Arrange();
  // Puts every control's state from the logic into its widget.
  void ShowControls();
  void ApplyEnabledStates();
  void RefreshPortHints();
  // The address field's colour and hint say at once whether reports can go to its text.
  void ShowAddressCheck();
  // Editing of a spin field ended (it lost the focus, Enter, or the window closed): the field
  // shows its value again, and that value is stored when the store holds another text.
  void EndSpinEditing(ConfigControl field);
  // Runs a user's change through the guard, then shows what it changed.
  void Handle(const std::function<void()>& handler);

  ConfigurationLogic logic_;
  HandlerGuard guard_;
  std::map<ConfigControl, QWidget*> controls_;
  QWidget* header_ = nullptr;
  QLabel* logo_ = nullptr;
  QList<QFrame*> lines_;
  bool showing_ = false;  // widgets are being set from code: their signals are not the user's
  bool placed_ = false;
};

}  // namespace qelta
