#include "monitor/qwatch_main.h"

#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QMenu>
#include <QMessageBox>
#include <QScreen>

#include "display/qwatch_info.h"
#include "link/hid_port.h"
#include "link/modems.h"
#include "link/serial_port.h"
#include "link/ups.h"
#include "monitor/handler_guard.h"
#include "monitor/http_poster.h"
#include "monitor/popup_placement.h"
#include "monitor/post_report.h"
#include "monitor/report_fields.h"
#include "monitor/start_mode.h"
#include "monitor/tray_icons.h"
#include "monitor/tray_menu.h"
#include "monitor/tray_wait.h"
#include "platform/ctrl_key_watch.h"
#include "platform/desktop_balloons.h"
#include "platform/file_change_watch.h"
#include "platform/instance_channel.h"
#include "platform/logind_power_control.h"
#include "platform/message_box_error_reporter.h"
#include "platform/qt_timer.h"
#include "platform/sound_player.h"
#include "platform/tray_appearance_watch.h"
#include "platform/wall_clock.h"
#include "settings/autorun_store.h"
#include "settings/settings_store.h"
#include "stats/stats.h"

namespace qelta {
namespace {

// How long a new monitor waits for the old ones to close before it goes on regardless.
constexpr int kTakeoverWaitMs = 15000;

}  // namespace

TMainForm::TMainForm(std::vector<std::string> arguments) : arguments_(std::move(arguments)) {
  setWindowTitle(QStringLiteral("I LOVE QELTA VERY MUCH :-)"));
  errors_ = std::make_unique<MessageBoxErrorReporter>();
  // Every timer's handler runs inside the error guard.
  timers_ = std::make_unique<QtTimerFactory>(
      [this](const std::function<void()>& handler) { RunGuarded(handler); });
  wall_clock_ = std::make_unique<SystemWallClock>();
  ctrl_watch_ = MakeCtrlKeyWatch();
  Tray = new QSystemTrayIcon(this);
  notification_balloons_ = std::make_unique<DesktopNotificationBalloons>();
  tray_balloons_ = std::make_unique<TrayBalloons>(Tray);
  balloons_ = std::make_unique<BalloonRouter>(*notification_balloons_, *tray_balloons_);
  power_ = std::make_unique<LogindPowerControl>();
  sound_ = std::make_unique<CanberraSoundPlayer>();
  http_ = std::make_unique<TcpHttpPoster>();
  stats_ = std::make_unique<StatsFile>();
  RunGuarded([this] { FormCreate(); });
  if (!monitoring_) termination_requested_ = true;
}

TMainForm::~TMainForm() {
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

  MonitorDependencies deps{*protocol_, *this, *this,    *balloons_,      *power_,
                           *sound_,    *this, *timers_, *settings_watch_};
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

  const StartChoice choice = ChooseStartMode(arguments_, *settings_store_);
  if (choice.mode == StartMode::Uninstaller || choice.mode == StartMode::Installer) {
    setWindowTitle(QString::fromUtf8(choice.mode == StartMode::Uninstaller ? kUninstallerTitle
                                                                           : kInstallerTitle));
    QMessageBox::information(
        nullptr, QStringLiteral("QELTA MONITOR"),
        choice.mode == StartMode::Uninstaller
            ? QStringLiteral("Удаление программы в этой версии пока недоступно.")
            : QStringLiteral("Установка программы в этой версии пока недоступна."));
    return;
  }
  EnterMonitorMode(choice.show_welcome);
}

void TMainForm::EnterMonitorMode(bool /*show_welcome*/) {
  setWindowTitle(QString::fromUtf8(kMonitorTakeoverTitle));
  const bool replaced =
      InstanceChannel::CloseRunning(QString::fromUtf8(kMonitorTitle), kTakeoverWaitMs);
  setWindowTitle(QString::fromUtf8(kMonitorTitle));
  instance_ = new InstanceChannel(this);
  instance_->Listen(QString::fromUtf8(kMonitorTitle), [this] { CloseMenuClick(); });

  BuildTray();
  monitoring_ = true;
  core_->StartMonitoring(replaced);
  ShowTrayWhenReady();
}

void TMainForm::ShowTrayWhenReady() {
  Tray->show();
  // At log-on the desktop's tray may come up after the monitor: show the icon again once it
  // is there.
  tray_appearance_ = MakeTrayAppearanceWatch();
  tray_wait_ = std::make_unique<TrayWait>(
      *timers_, *tray_appearance_, [] { return QSystemTrayIcon::isSystemTrayAvailable(); },
      [this] {
        Tray->hide();
        Tray->show();
      });
  tray_wait_->Start();
}

void TMainForm::BuildTray() {
  TrayMenu = new QMenu(this);
  auto add = [this](const char* caption, void (MonitorCore::*handler)()) {
    QAction* action = TrayMenu->addAction(QString::fromUtf8(caption));
    if (handler != nullptr) {
      connect(action, &QAction::triggered, this,
              [this, handler] { RunGuarded([this, handler] { ((*core_).*handler)(); }); });
    }
    return action;
  };
  auto not_yet = [this](QAction* action) {
    connect(action, &QAction::triggered, this, [] {
      QMessageBox::information(nullptr, QStringLiteral("QELTA MONITOR"),
                               QStringLiteral("Это окно в этой версии пока недоступно."));
    });
  };
  InformationMenu = add("&Состояние UPS...", &MonitorCore::InformationMenuClick);
  ToggleBeeperMenu = add("&Доп. звук. оповещение", &MonitorCore::ToggleBeeperMenuClick);
  ToggleBeeperMenu->setCheckable(true);
  TrayMenu->addSeparator();
  StatsMenu = add("&Статистика...", nullptr);
  not_yet(StatsMenu);
  PerformTestMenu = add("&Тестирование UPS...", &MonitorCore::PerformTestMenuClick);
  TrayMenu->addSeparator();
  ConfigurationMenu = add("&Конфигурация...", nullptr);
  not_yet(ConfigurationMenu);
  AboutMenu = add("&О программе", nullptr);
  not_yet(AboutMenu);
  CloseMenu = TrayMenu->addAction(QStringLiteral("&Закрыть"));
  connect(CloseMenu, &QAction::triggered, this, [this] { CloseMenuClick(); });
  // The dynamic tail as it stands before the first right click.
  QAction* divider = TrayMenu->addSeparator();
  divider->setProperty("tag", 1);
  QAction* cancel = add("Отменить завершение работы", &MonitorCore::CancelShutdownProcessClick);
  cancel->setProperty("tag", 1);

  connect(TrayMenu, &QMenu::aboutToShow, this, [this] { ApplyTrayMenuState(); });
  connect(Tray, &QSystemTrayIcon::activated, this,
          [this](QSystemTrayIcon::ActivationReason reason) { TrayActivated(reason); });
}

void TMainForm::TrayActivated(QSystemTrayIcon::ActivationReason reason) {
  // Left click: Trigger; right click: Context. Double and middle clicks do nothing.
  if (reason == QSystemTrayIcon::Trigger) TrayClick(false, QCursor::pos());
  if (reason == QSystemTrayIcon::Context) TrayClick(true, QCursor::pos());
}

void TMainForm::TrayClick(bool right_button, QPoint position) {
  RunGuarded([&] {
    core_->SetClickPosition(position.x(), position.y());
    if (!right_button) {
      core_->InformationMenuClick();
      return;
    }
    RebuildTrayMenuTail(*TrayMenu, core_->ShutdownPending(),
                        [this] { RunGuarded([this] { core_->CancelShutdownProcessClick(); }); });
    TrayMenu->popup(position);
  });
}

void TMainForm::ApplyTrayMenuState() {
  const MonitorCore::TrayMenuState state = core_->TrayMenuPopup();
  ToggleBeeperMenu->setEnabled(state.toggle_beeper_enabled);
  ToggleBeeperMenu->setChecked(state.toggle_beeper_checked);
  PerformTestMenu->setEnabled(state.perform_test_enabled);
}

void TMainForm::CreateInfoForm() {
  // Start-up that failed before the stores existed leaves nothing for the pop-up to show.
  if (core_ == nullptr || settings_store_ == nullptr) return;
  InfoForm = new TInfoForm(*core_, *settings_store_, *balloons_, *timers_);
  if (monitoring_) core_->SetPopup(this);
}

void TMainForm::CloseMenuClick() {
  close();
  FormDestroy();
  QCoreApplication::quit();
}

void TMainForm::FormDestroy() {
  if (core_ != nullptr) core_->SetSettings(nullptr);
  autorun_store_.reset();
  settings_store_.reset();
}

void TMainForm::ShowTrayIcon(int index) {
  Tray->setIcon(TrayIcon(index));
}

void TMainForm::RefreshStatus() {
  if (InfoForm != nullptr) {
    InfoForm->RefreshStatus();
    if (PerformTestMenu != nullptr) PerformTestMenu->setEnabled(core_->PerformTestEnabled());
  }
}

void TMainForm::ShowStatusBalloon(int kind) {
  if (InfoForm != nullptr) InfoForm->ShowStatusBalloon(kind);
}

void TMainForm::ShowNearClick(int click_x, int click_y) {
  if (InfoForm == nullptr) return;
  const QPoint click(click_x, click_y);
  InfoForm->PlaceFrame(
      [click](QSize frame) { return PopupFramePosition(click, DesktopScreens(), frame); });
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
