#include "monitor/qwatch_main.h"

#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QFile>
#include <QGuiApplication>
#include <QMenu>
#include <QScreen>
#include <cstdio>
#include <optional>

#include "display/qwatch_info.h"
#include "install/installation.h"
#include "install/program_icon.h"
#include "install/qwatch_about.h"
#include "install/qwatch_install.h"
#include "install/qwatch_welcome.h"
#include "install/ups_access.h"
#include "link/hid_port.h"
#include "link/modems.h"
#include "link/serial_port.h"
#include "link/ups.h"
#include "link/ups_port_probe.h"
#include "monitor/handler_guard.h"
#include "monitor/http_poster.h"
#include "monitor/popup_placement.h"
#include "monitor/post_report.h"
#include "monitor/report_fields.h"
#include "monitor/served_network.h"
#include "monitor/start_mode.h"
#include "monitor/tray_icons.h"
#include "monitor/tray_menu.h"
#include "monitor/tray_tooltip.h"
#include "monitor/tray_wait.h"
#include "monitor/window_balloons.h"
#include "network/network_link.h"
#include "network/qwatch_network.h"
#include "platform/busy_indicator.h"
#include "platform/ctrl_key_watch.h"
#include "platform/desktop_balloons.h"
#include "platform/dialog_boxes.h"
#include "platform/file_change_watch.h"
#include "platform/file_open_dialog.h"
#include "platform/instance_channel.h"
#include "platform/logind_power_control.h"
#include "platform/message_box_error_reporter.h"
#include "platform/message_boxes.h"
#include "platform/program_starter.h"
#include "platform/qt_timer.h"
#include "platform/serial_adapters.h"
#include "platform/sound_player.h"
#include "platform/taskbar_hint.h"
#include "platform/tray_appearance_watch.h"
#include "platform/tray_click_position.h"
#include "platform/ui_script.h"
#include "platform/wall_clock.h"
#include "platform/web_pages.h"
#include "settings/autorun_store.h"
#include "settings/port_search.h"
#include "settings/qwatch_config.h"
#include "settings/settings_store.h"
#include "stats/qwatch_stats.h"
#include "stats/stats.h"

namespace qelta {
namespace {

// The running executable's path as the file system has it (a name that is not UTF-8 would not
// survive a QString).
std::string ExecutablePath() {
  const std::string path = RunningExecutablePath();
  return path.empty() ? QFile::encodeName(QCoreApplication::applicationFilePath()).toStdString()
                      : path;
}

// How long a new monitor waits for the old ones to close before it goes on regardless.
constexpr int kTakeoverWaitMs = 15000;

}  // namespace

TMainForm::TMainForm(std::vector<std::string> arguments) : arguments_(std::move(arguments)) {
  setWindowTitle(QStringLiteral("I LOVE QELTA VERY MUCH :-)"));
  UiScript::StartFromEnvironment();
  QApplication::setWindowIcon(ProgramIcon());
  errors_ = std::make_unique<MessageBoxErrorReporter>();
  // Every timer's handler runs inside the error guard; the tray menu follows what it changed.
  timers_ = std::make_unique<QtTimerFactory>([this](const std::function<void()>& handler) {
    RunGuarded(handler);
    UpdateTrayMenu();
  });
  wall_clock_ = std::make_unique<SystemWallClock>();
  ctrl_watch_ = MakeCtrlKeyWatch();
  notification_balloons_ = std::make_unique<DesktopNotificationBalloons>();
  // Without a notification service the balloons get a window of their own: a tray's own
  // balloon goes nowhere on most trays, and on some it hides the icon for its time.
  tray_balloons_ = std::make_unique<WindowBalloons>(
      [this] { return core_ != nullptr ? QPoint(core_->ClickX, core_->ClickY) : QPoint(); });
  balloons_ = std::make_unique<BalloonRouter>(*notification_balloons_, *tray_balloons_);
  power_ = std::make_unique<LogindPowerControl>();
  sound_ = std::make_unique<CanberraSoundPlayer>();
  http_ = std::make_unique<TcpHttpPoster>();
  stats_ = std::make_unique<StatsFile>();
  serial_adapters_ = std::make_unique<LinuxSerialAdapters>();
  message_boxes_ = std::make_unique<QtMessageBoxes>();
  file_dialog_ = std::make_unique<QtFileOpenDialog>();
  busy_ = std::make_unique<WaitCursor>();
  install_files_ = std::make_unique<LocalInstallFiles>();
  starter_ = std::make_unique<DetachedProcessStarter>();
  web_pages_ = std::make_unique<DesktopWebPages>();
  RunGuarded([this] { FormCreate(); });
  if (!monitoring_) termination_requested_ = true;
}

TMainForm::~TMainForm() {
  // The windows go before the stores and the core they show; their timers with them.
  if (core_ != nullptr) core_->SetPopup(nullptr);
  network_.reset();
  delete InfoForm;
  InfoForm = nullptr;
  delete about_form_.data();
  // Its refresh may still be reading the statistics file on its worker thread.
  delete StatsForm;
  StatsForm = nullptr;
  welcome_form_.reset();
  network_form_.reset();
  configuration_form_.reset();
  FormDestroy();
}

void TMainForm::RunGuarded(const std::function<void()>& handler) {
  qelta::RunGuarded(*errors_, handler);
}

void TMainForm::FormCreate() {
  auto settings_store = std::make_unique<SettingsStore>();
  // Tells the timers that sleep while a setting keeps them idle when it may have changed.
  settings_watch_ = std::make_unique<FileChangeWatch>(settings_store->FilePath());
  settings_store_ = std::move(settings_store);
  autorun_store_ = std::make_unique<AutorunStore>();

  serial_ = std::make_unique<SerialPort>(*settings_store_);
  hid_ = std::make_unique<HidPort>();
  transport_ = std::make_unique<UpsTransport>(*serial_, *hid_);
  protocol_ = std::make_unique<UpsProtocol>(*transport_, *settings_store_, *wall_clock_);
  // "NET": a UPS served elsewhere, the third branch beside the serial port and USB.
  network_link_ = std::make_unique<NetworkUpsLink>(*settings_store_, *wall_clock_);
  link_ = std::make_unique<LinkByPort>(*protocol_, *network_link_, *settings_store_);
  port_probe_ = std::make_unique<LinkUpsProbe>(*link_, *serial_, *wall_clock_);
  port_search_ = std::make_unique<PortSearch>(*port_probe_, *settings_store_, *serial_adapters_);

  MonitorDependencies deps{*link_,  *this, *this,    *balloons_,      *power_,
                           *sound_, *this, *timers_, *settings_watch_};
  core_ = std::make_unique<MonitorCore>(deps);
  core_->SetSettings(settings_store_.get());
  post_ = std::make_unique<PostReport>(*settings_store_, core_->PostTimer(), *http_, [this] {
    QString readings[6];
    for (int i = 0; i < 6; ++i) {
      readings[i] = InfoForm != nullptr ? InfoForm->ReadingText(i) : QStringLiteral("-");
    }
    return MakeReportFields(readings[0], readings[1], readings[2], readings[3], readings[4],
                            readings[5], core_->LastStatus());
  });
  core_->SetPostReport(post_.get());

  const StartChoice choice = ChooseStartMode(arguments_, *settings_store_,
                                             QCoreApplication::applicationFilePath().toStdString());
  if (choice.mode == StartMode::Uninstaller) {
    RunUninstaller();
    return;
  }
  if (choice.mode == StartMode::Installer) {
    RunInstaller();
    return;
  }
  // A store that cannot take the new version is shown, and the monitor runs all the same.
  if (choice.upgraded_in_place) RunGuarded([this] { RecordUpgradeInPlace(*settings_store_); });
  EnterMonitorMode(choice.show_welcome);
}

InstallDependencies TMainForm::Installation() {
  InstallPlaces places = UserInstallPlaces();
  if (const auto* store = dynamic_cast<const SettingsStore*>(settings_store_.get())) {
    places.settings_file = store->FilePath();
  }
  if (uninstall_entry_ == nullptr) {
    uninstall_entry_ =
        std::make_unique<SettingsStore>(places.uninstall_entry_folder, places.uninstall_entry_file);
  }
  return InstallDependencies{
      *settings_store_,
      *autorun_store_,
      *uninstall_entry_,
      *port_search_,
      *install_files_,
      *starter_,
      places,
      ProgramIconFiles(),
      ExecutablePath(),
      [] { InstanceChannel::CloseRunning(QString::fromUtf8(kMonitorTitle), kTakeoverWaitMs); },
      // The store keeps no file open: closing it means that nothing here uses it any more,
      // the always-running timers included.
      [this] { core_->SetSettings(nullptr); },
      [] { return CurrentUpsAccessHint(); },
  };
}

void TMainForm::RunInstaller() {
  setWindowTitle(QString::fromUtf8(kInstallerTitle));
  TInstallForm form(Installation(),
                    [this](const std::function<void()>& handler) { RunGuarded(handler); });
  form.FormCreate();
  form.exec();
}

void TMainForm::RunUninstaller() {
  setWindowTitle(QString::fromUtf8(kUninstallerTitle));
  // The uninstaller's boxes have no owner window.
  QtDialogBoxes boxes(nullptr);
  UninstallProgram(Installation(), boxes);
}

void TMainForm::EnterMonitorMode(bool show_welcome) {
  setWindowTitle(QString::fromUtf8(kMonitorTakeoverTitle));
  const bool replaced =
      InstanceChannel::CloseRunning(QString::fromUtf8(kMonitorTitle), kTakeoverWaitMs);
  setWindowTitle(QString::fromUtf8(kMonitorTitle));
  instance_ = new InstanceChannel(this);
  instance_->Listen(QString::fromUtf8(kMonitorTitle), [this] { CloseMenuClick(); });
  if (show_welcome) ShowWelcome();

  BuildTray();
  monitoring_ = true;
  core_->StartMonitoring(replaced);
  ShowTrayWhenReady();
  StartNetworkServer();
}

void TMainForm::StartNetworkServer() {
  network_ = std::make_unique<ServedNetwork>(
      *core_, *link_, *timers_, [this] { return settings_store_.get(); },
      [this](const std::string& message) {
        std::fprintf(stderr, "qelta-monitor: %s\n", message.c_str());
        balloons_->ShowBalloon(QStringLiteral("Сервер UPS"), QString::fromStdString(message),
                               BalloonIcon::Error, 5000);
      },
      *errors_);
  network_->Apply();
}

void TMainForm::ShowTrayWhenReady() {
  // At log-on the desktop's tray may come up after the monitor. The toolkit chooses between a
  // D-Bus (StatusNotifierItem) and an X11 icon once, when the icon is made, so the icon is made
  // only when a tray is there.
  tray_presence_ = MakeTrayPresence();
  TrayPresence& presence = *tray_presence_;
  tray_wait_ = std::make_unique<TrayWait>(
      *timers_, presence, [&presence] { return presence.TrayThere(); },
      [this] { RunGuarded([this] { PutIconInTray(); }); });
  if (presence.TrayThere()) PutIconInTray();
  tray_wait_->Start();
}

void TMainForm::PutIconInTray() {
  if (Tray != nullptr) {
    Tray->hide();
    Tray->show();
    return;
  }
  // A D-Bus tray passes the click's position, which the toolkit only logs.
  TrayClickPosition::Listen();
  Tray = new QSystemTrayIcon(this);
  Tray->setIcon(tray_icons_[tray_icon_index_]);
  Tray->setToolTip(tray_tooltip_);
  // Trays that speak D-Bus open the menu themselves and ask for it; X11 trays have the toolkit
  // open it at the click. Either way it is brought up to date as it is about to show.
  Tray->setContextMenu(TrayMenu);
  connect(Tray, &QSystemTrayIcon::activated, this,
          [this](QSystemTrayIcon::ActivationReason reason) { TrayActivated(reason); });
  Tray->show();
}

void TMainForm::BuildTray() {
  for (int i = 0; i < 3; ++i) tray_icons_[i] = TrayIcon(i);
  TrayMenu = new QMenu(this);
  auto add = [this](const char* caption, void (MonitorCore::*handler)()) {
    QAction* action = TrayMenu->addAction(QString::fromUtf8(caption));
    if (handler != nullptr) {
      connect(action, &QAction::triggered, this,
              [this, handler] { RunGuarded([this, handler] { ((*core_).*handler)(); }); });
    }
    return action;
  };
  InformationMenu = add("&Состояние UPS...", &MonitorCore::InformationMenuClick);
  ToggleBeeperMenu = add("&Доп. звук. оповещение", &MonitorCore::ToggleBeeperMenuClick);
  ToggleBeeperMenu->setCheckable(true);
  TrayMenu->addSeparator();
  StatsMenu = add("&Статистика...", nullptr);
  connect(StatsMenu, &QAction::triggered, this,
          [this] { RunGuarded([this] { StatsMenuClick(); }); });
  PerformTestMenu = add("&Тестирование UPS...", &MonitorCore::PerformTestMenuClick);
  TrayMenu->addSeparator();
  ConfigurationMenu = add("&Конфигурация...", nullptr);
  connect(ConfigurationMenu, &QAction::triggered, this,
          [this] { RunGuarded([this] { ConfigurationMenuClick(); }); });
  AboutMenu = add("&О программе", nullptr);
  connect(AboutMenu, &QAction::triggered, this,
          [this] { RunGuarded([this] { AboutMenuClick(); }); });
  CloseMenu = TrayMenu->addAction(QStringLiteral("&Закрыть"));
  connect(CloseMenu, &QAction::triggered, this, [this] { CloseMenuClick(); });
  // In the menu only while a countdown runs, at its top.
  CancelShutdownProcess = new QAction(QString::fromUtf8("Отменить завершение работы"), TrayMenu);
  connect(CancelShutdownProcess, &QAction::triggered, this, [this] {
    RunGuarded([this] { core_->CancelShutdownMenuClick(); });
    UpdateTrayMenu();
  });
  CancelDivider = new QAction(TrayMenu);
  CancelDivider->setSeparator(true);

  connect(TrayMenu, &QMenu::aboutToShow, this, [this] {
    // What a right click did before the menu opened: the click's place for the pop-up, and the
    // menu's items as the state is now.
    const QPoint click = QCursor::pos();
    core_->SetClickPosition(click.x(), click.y());
    UpdateTrayMenu();
  });
  UpdateTrayMenu();
}

void TMainForm::TrayActivated(QSystemTrayIcon::ActivationReason reason) {
  // Left click: Trigger; right click: Context (the toolkit or the tray opens the context menu
  // itself). Double and middle clicks do nothing. The position a D-Bus tray passed with the
  // click comes first: the pointer's own position is stale under Xwayland.
  const std::optional<QPoint> tray_position = TrayClickPosition::Take();
  const QPoint position = tray_position.value_or(QCursor::pos());
  if (reason == QSystemTrayIcon::Trigger) TrayClick(false, position);
  if (reason == QSystemTrayIcon::Context) {
    TrayClick(true, position);
    // A D-Bus tray that calls ContextMenu(x, y) instead of reading the menu wants the item to
    // open it. The toolkit hands a pop-up of the icon's own menu to its D-Bus export, which
    // cannot pop up; the same items in a plain menu open at the place the tray gave.
    if (tray_position) PopUpTrayMenuAt(*tray_position);
  }
}

void TMainForm::PopUpTrayMenuAt(QPoint position) {
  if (TrayPopupMenu == nullptr) TrayPopupMenu = new QMenu(this);
  // The items are the tray menu's own actions as the click left them (the cancel item included
  // while a countdown runs).
  for (QAction* action : TrayPopupMenu->actions()) TrayPopupMenu->removeAction(action);
  TrayPopupMenu->addActions(TrayMenu->actions());
  TrayPopupMenu->popup(position);
}

void TMainForm::TrayClick(bool right_button, QPoint position) {
  RunGuarded([&] {
    core_->SetClickPosition(position.x(), position.y());
    if (!right_button) core_->InformationMenuClick();
  });
  UpdateTrayMenu();
}

void TMainForm::UpdateTrayMenu() {
  if (core_ == nullptr || TrayMenu == nullptr) return;
  ShowCancelItem(*TrayMenu, *CancelShutdownProcess, *CancelDivider, core_->ShutdownPending());
  const MonitorCore::TrayMenuState state = core_->TrayMenuPopup();
  ToggleBeeperMenu->setEnabled(state.toggle_beeper_enabled);
  ToggleBeeperMenu->setChecked(state.toggle_beeper_checked);
  PerformTestMenu->setEnabled(state.perform_test_enabled);
  // On a UPS served elsewhere without the right to its commands the items say why.
  const QString hint = QString::fromStdString(state.commands_hint);
  ToggleBeeperMenu->setToolTip(hint);
  PerformTestMenu->setToolTip(hint);
  TrayMenu->setToolTipsVisible(!hint.isEmpty());
  const QString tooltip = TrayToolTip(*core_);
  if (tooltip == tray_tooltip_) return;
  tray_tooltip_ = tooltip;
  if (Tray != nullptr) Tray->setToolTip(tooltip);
}

void TMainForm::CreateInfoForm() {
  // Start-up that failed before the stores existed leaves nothing for the pop-up to show.
  if (core_ == nullptr || settings_store_ == nullptr) return;
  InfoForm = new TInfoForm(*core_, *settings_store_, *balloons_, *timers_);
  if (monitoring_) core_->SetPopup(this);
}

void TMainForm::ConfigurationMenuClick() {
  if (configuration_form_ == nullptr) {
    ConfigurationDependencies deps{*settings_store_,
                                   *autorun_store_,
                                   core_->UpdateTimer(),
                                   [this] { post_->PostCounter = 0; },
                                   *sound_,
                                   *port_search_,
                                   *message_boxes_,
                                   *file_dialog_,
                                   *busy_,
                                   ExecutablePath(),
                                   [] { return CurrentUpsAccessHint(); }};
    auto form = std::make_unique<TConfigurationForm>(
        deps, [this](const std::function<void()>& handler) { RunGuarded(handler); });
    // A store failure while filling ends here; the next request tries again.
    form->FormCreate();
    if (network_ != nullptr) {
      form->SetNetworkSettingsOpener([this] { RunGuarded([this] { NetworkSettingsClick(); }); });
    }
    configuration_form_ = std::move(form);
  }
  if (configuration_form_->isVisible()) {
    configuration_form_->raise();
    configuration_form_->activateWindow();
  } else {
    configuration_form_->show();
  }
}

void TMainForm::NetworkSettingsClick() {
  if (network_form_ == nullptr) {
    auto form = std::make_unique<TNetworkForm>(
        *settings_store_, [this] { network_->Apply(); },
        [this](const std::function<void()>& handler) { RunGuarded(handler); });
    form->FormCreate();
    network_form_ = std::move(form);
  }
  if (network_form_->isVisible()) {
    network_form_->raise();
    network_form_->activateWindow();
  } else {
    network_form_->show();
  }
}

void TMainForm::ShowWelcome() {
  welcome_form_ = std::make_unique<TWelcomeForm>(
      *web_pages_, [this] { RunGuarded([this] { ConfigurationMenuClick(); }); });
  welcome_form_->show();
}

TAboutForm* TMainForm::AboutForm() const {
  return about_form_.data();
}

void TMainForm::AboutMenuClick() {
  if (about_form_ == nullptr) {
    about_form_ = new TAboutForm(*web_pages_, [this] {
      // Forgotten: the next request makes a new window.
      if (about_form_ != nullptr) about_form_->deleteLater();
      about_form_ = nullptr;
    });
    about_form_->FormCreate();
  }
  if (about_form_->isVisible()) {
    about_form_->raise();
    about_form_->activateWindow();
  } else {
    about_form_->show();
  }
}

void TMainForm::CloseMenuClick() {
  close();
  FormDestroy();
  QCoreApplication::quit();
}

void TMainForm::StatsMenuClick() {
  if (StatsForm == nullptr) {
    StatsForm = new TStatsForm(*stats_, this);
    StatsForm->ShowButtonClick();
  }
  if (StatsForm->isVisible()) {
    StatsForm->raise();
    StatsForm->activateWindow();
  } else {
    StatsForm->show();
  }
}

void TMainForm::FormDestroy() {
  if (core_ != nullptr) core_->SetSettings(nullptr);
  autorun_store_.reset();
  settings_store_.reset();
}

void TMainForm::ShowTrayIcon(int index) {
  if (index < 0 || index > 2) return;
  tray_icon_index_ = index;
  if (Tray != nullptr) Tray->setIcon(tray_icons_[index]);
}

void TMainForm::RefreshStatus() {
  if (InfoForm != nullptr) {
    InfoForm->RefreshStatus();
    if (PerformTestMenu != nullptr) {
      PerformTestMenu->setEnabled(core_->PerformTestEnabled() &&
                                  core_->TrayMenuPopup().perform_test_enabled);
    }
  }
}

void TMainForm::ShowStatusBalloon(int kind) {
  if (InfoForm != nullptr) InfoForm->ShowStatusBalloon(kind);
}

void TMainForm::ShowNearClick(int click_x, int click_y) {
  if (InfoForm == nullptr) return;
  const QPoint click(click_x, click_y);
  // Where the compositor places windows itself the pop-up is a normal window that gets the focus.
  if (DesktopLetsProgramsPlaceWindows()) {
    InfoForm->PlaceFrame(
        [click](QSize frame) { return PopupFramePosition(click, DesktopScreens(), frame); });
  }
  KeepOffTaskbar(*InfoForm);
  InfoForm->show();
  QCoreApplication::processEvents();
  InfoForm->raise();
  InfoForm->activateWindow();
}

bool TMainForm::CtrlDown() {
  return ctrl_watch_->CtrlDown();
}

bool TMainForm::NeedsPolling() {
  return ctrl_watch_->NeedsPolling();
}

void TMainForm::SetChangeHandler(std::function<void()> handler) {
  ctrl_watch_->SetChangeHandler(std::move(handler));
}

void TMainForm::AppendStatsRecord(const TUPSStatusRaw& sample) {
  stats_->AppendStatsRecord(sample);
}

}  // namespace qelta
