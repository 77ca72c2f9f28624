#pragma once

#include <QPoint>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QWidget>
#include <memory>
#include <string>
#include <vector>

#include "monitor/monitor_core.h"
#include "monitor/monitor_ports.h"

class QAction;
class QMenu;

namespace qelta {

class BalloonRouter;
class BalloonSink;
class BusyIndicator;
class FileOpenDialog;
class InstallFiles;
class ProgramStarter;
class TAboutForm;
class TWelcomeForm;
class WebPages;
struct InstallDependencies;
class MessageBoxes;
class TNetworkForm;
class PortSearch;
class SerialAdapterCatalog;
class ServedNetwork;
class TConfigurationForm;
class UpsProbe;
class ChangeNotice;
class CtrlKeyWatch;
class ErrorReporter;
class HidBranch;
class HttpPoster;
class InstanceChannel;
class PostReport;
class PowerControl;
class SerialPort;
class Settings;
class SoundPlayer;
class StatsFile;
class TInfoForm;
class TStatsForm;
class TimerFactory;
class TrayPresence;
class TrayWait;
class UpsProtocol;
class NetworkUpsLink;
class LinkByPort;
class UpsTransport;
class WallClock;

// The hidden main window: it chooses the process's mode at start-up, owns the stores, the
// timers (through MonitorCore), the tray icon and its menu, and the windows the menu opens.
// It is never shown; its title is the process's identity for other instances.
class TMainForm : public QWidget,
                  private TrayIconView,
                  private StatusPopup,
                  private KeyboardState,
                  private StatsAppender {
  Q_OBJECT

 public:
  explicit TMainForm(std::vector<std::string> arguments);
  ~TMainForm() override;

  // The status pop-up is created after the main window, as the process entry orders it.
  void CreateInfoForm();
  bool TerminationRequested() const { return termination_requested_; }

  MonitorCore& Core() { return *core_; }
  QMenu* Menu() const { return TrayMenu; }

  void CloseMenuClick();
  // Opens the configuration dialog: created and filled on first use, then kept; shown when
  // hidden, brought to the front when shown.
  void ConfigurationMenuClick();
  // The configuration dialog; null until it is first opened.
  TConfigurationForm* ConfigurationForm() const { return configuration_form_.get(); }
  // The tray menu's "&Статистика...": creates the statistics window on first use and loads
  // the current day into it, then shows it (or focuses it when it is visible).
  void StatsMenuClick();
  // Opens the About window: created on first use (and again after its own close button made
  // the main window forget it), shown when hidden, brought to the front when shown.
  void AboutMenuClick();
  TAboutForm* AboutForm() const;
  // The welcome window; null unless the monitor was started with "/welcome".
  TWelcomeForm* WelcomeForm() const { return welcome_form_.get(); }

 private:
  void FormCreate();
  void FormDestroy();
  void EnterMonitorMode(bool show_welcome);
  // What the installer and the uninstaller work on.
  InstallDependencies Installation();
  void RunInstaller();
  void RunUninstaller();
  void ShowWelcome();
  // Serves the UPS to the other computers on it, as `Network` in the settings says.
  void StartNetworkServer();
  // The configuration dialog's "Сеть...": the network settings, created on first use and kept.
  void NetworkSettingsClick();
  void BuildTray();
  void ShowTrayWhenReady();
  // Makes the tray icon once a tray is there (shows it again when it already exists).
  void PutIconInTray();
  void TrayActivated(QSystemTrayIcon::ActivationReason reason);
  void TrayClick(bool right_button, QPoint position);
  // Brings the menu's items, their enabled and checked states and the icon's tooltip in line
  // with the monitor's state; changes only what differs.
  void UpdateTrayMenu();
  void PopUpTrayMenuAt(QPoint position);
  void RunGuarded(const std::function<void()>& handler);

  // TrayIconView
  void ShowTrayIcon(int index) override;
  // StatusPopup
  void RefreshStatus() override;
  void ShowStatusBalloon(int kind) override;
  void ShowNearClick(int click_x, int click_y) override;
  // KeyboardState
  bool CtrlDown() override;
  bool NeedsPolling() override;
  void SetChangeHandler(std::function<void()> handler) override;
  // StatsAppender
  void AppendStatsRecord(const TUPSStatusRaw& sample) override;

  std::vector<std::string> arguments_;
  bool termination_requested_ = false;

  std::unique_ptr<ErrorReporter> errors_;
  std::unique_ptr<Settings> settings_store_;
  std::unique_ptr<Settings> autorun_store_;
  std::unique_ptr<TimerFactory> timers_;
  std::unique_ptr<CtrlKeyWatch> ctrl_watch_;
  std::unique_ptr<ChangeNotice> settings_watch_;
  std::unique_ptr<TrayPresence> tray_presence_;
  std::unique_ptr<WallClock> wall_clock_;
  std::unique_ptr<SerialPort> serial_;
  std::unique_ptr<HidBranch> hid_;
  std::unique_ptr<UpsTransport> transport_;
  std::unique_ptr<UpsProtocol> protocol_;
  std::unique_ptr<NetworkUpsLink> network_link_;
  std::unique_ptr<LinkByPort> link_;
  std::unique_ptr<StatsFile> stats_;
  std::unique_ptr<PowerControl> power_;
  std::unique_ptr<SoundPlayer> sound_;
  std::unique_ptr<BalloonSink> notification_balloons_;
  std::unique_ptr<BalloonSink> tray_balloons_;
  std::unique_ptr<BalloonRouter> balloons_;
  std::unique_ptr<HttpPoster> http_;
  std::unique_ptr<MonitorCore> core_;
  std::unique_ptr<PostReport> post_;
  std::unique_ptr<SerialAdapterCatalog> serial_adapters_;
  std::unique_ptr<UpsProbe> port_probe_;
  std::unique_ptr<PortSearch> port_search_;
  std::unique_ptr<MessageBoxes> message_boxes_;
  std::unique_ptr<FileOpenDialog> file_dialog_;
  std::unique_ptr<BusyIndicator> busy_;
  std::unique_ptr<TConfigurationForm> configuration_form_;
  std::unique_ptr<Settings> uninstall_entry_;
  std::unique_ptr<InstallFiles> install_files_;
  std::unique_ptr<ProgramStarter> starter_;
  std::unique_ptr<WebPages> web_pages_;
  std::unique_ptr<TWelcomeForm> welcome_form_;
  QPointer<TAboutForm> about_form_;
  std::unique_ptr<TrayWait> tray_wait_;
  std::unique_ptr<ServedNetwork> network_;
  std::unique_ptr<TNetworkForm> network_form_;
  InstanceChannel* instance_ = nullptr;

  // Made only once a tray is there (the toolkit picks the kind of icon when it is made).
  QSystemTrayIcon* Tray = nullptr;
  int tray_icon_index_ = 2;
  // The three icons, drawn once: the blink on battery swaps two of them twice a second.
  QIcon tray_icons_[3];
  QString tray_tooltip_;
  QMenu* TrayMenu = nullptr;
  // The tray menu's items, popped up for a D-Bus tray that asks the item to open its menu.
  QMenu* TrayPopupMenu = nullptr;
  QAction* CancelShutdownProcess = nullptr;
  QAction* CancelDivider = nullptr;
  QAction* InformationMenu = nullptr;
  QAction* ToggleBeeperMenu = nullptr;
  QAction* StatsMenu = nullptr;
  QAction* PerformTestMenu = nullptr;
  QAction* ConfigurationMenu = nullptr;
  QAction* AboutMenu = nullptr;
  QAction* CloseMenu = nullptr;
  TInfoForm* InfoForm = nullptr;
  TStatsForm* StatsForm = nullptr;  // a child window: owned by this one
  bool monitoring_ = false;
};

}  // namespace qelta
