#include "monitor/service_mode.h"

#include <QCoreApplication>
#include <QString>
#include <cstdio>
#include <cstdlib>

#include "link/hid_port.h"
#include "link/serial_port.h"
#include "link/ups.h"
#include "link/ups_port_probe.h"
#include "monitor/handler_guard.h"
#include "monitor/http_poster.h"
#include "monitor/post_report.h"
#include "monitor/report_fields.h"
#include "monitor/served_network.h"
#include "network/network_link.h"
#include "platform/file_change_watch.h"
#include "platform/journal_notices.h"
#include "platform/logind_power_control.h"
#include "platform/qt_timer.h"
#include "platform/serial_adapters.h"
#include "platform/sound_player.h"
#include "platform/wall_clock.h"
#include "settings/port_search.h"
#include "settings/settings_store.h"
#include "stats/stats.h"

namespace qelta {
namespace {

// A service has no sound device of its own: the battery warning's sound is noted in the journal.
class JournalSoundNote : public SoundPlayer {
 public:
  explicit JournalSoundNote(BalloonSink& balloons) : balloons_(balloons) {}
  void PlayFileAsync(const QString& path) override {
    balloons_.ShowBalloon(QStringLiteral("Звук не воспроизведен"),
                          QStringLiteral("у службы нет звукового устройства: ") + path,
                          BalloonIcon::Information, 5000);
  }

 private:
  BalloonSink& balloons_;
};

std::pair<std::string, std::string> SplitPath(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {".", path};
  return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

}  // namespace

std::optional<ServiceOptions> ParseServiceArguments(const std::vector<std::string>& arguments,
                                                    std::string& error) {
  ServiceOptions options;
  for (size_t i = 0; i < arguments.size(); ++i) {
    if (arguments[i] == "--search") {
      options.search = true;
    } else if (arguments[i] == "--config" && i + 1 < arguments.size() &&
               !arguments[i + 1].empty()) {
      options.settings_path = arguments[++i];
    } else {
      error = arguments[i] == "--config" ? "--config: нужен путь к файлу настроек"
                                         : "неизвестный параметр: " + arguments[i];
      return std::nullopt;
    }
  }
  if (options.settings_path.back() == '/') {
    error = "--config: нужен путь к файлу, а не к папке";
    return std::nullopt;
  }
  return options;
}

int RunServiceMode(int argc, char* argv[]) {
  std::vector<std::string> arguments;
  for (int i = 2; i < argc; ++i) arguments.emplace_back(argv[i]);
  std::string error;
  const std::optional<ServiceOptions> options = ParseServiceArguments(arguments, error);
  if (!options) {
    std::fputs(
        JournalLine(JournalPriority::Error, QString::fromStdString("qelta-monitor: " + error))
            .c_str(),
        stderr);
    return 2;
  }
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("QELTA MONITOR"));
  ServiceMonitor service(*options);
  if (options->search) return service.Search();
  service.Start();
  return QCoreApplication::exec();
}

std::string ServiceStateFolder() {
  const char* state = std::getenv("STATE_DIRECTORY");
  if (state != nullptr && state[0] == '/') {
    const std::string folders = state;
    return folders.substr(0, folders.find(':'));
  }
  return kDefaultServiceStateFolder;
}

ServiceMonitor::ServiceMonitor(const ServiceOptions& options) {
  errors_ = std::make_unique<JournalErrorReporter>();
  balloons_ = std::make_unique<JournalBalloons>();
  timers_ = std::make_unique<QtTimerFactory>(
      [this](const std::function<void()>& handler) { RunGuarded(*errors_, handler); });
  wall_clock_ = std::make_unique<SystemWallClock>();
  const auto [folder, file] = SplitPath(options.settings_path);
  settings_ = std::make_unique<SettingsStore>(folder, file);
  settings_watch_ = std::make_unique<FileChangeWatch>(settings_->FilePath());

  serial_ = std::make_unique<SerialPort>(*settings_);
  hid_ = std::make_unique<HidPort>();
  transport_ = std::make_unique<UpsTransport>(*serial_, *hid_);
  protocol_ = std::make_unique<UpsProtocol>(*transport_, *settings_, *wall_clock_);
  network_link_ = std::make_unique<NetworkUpsLink>(*settings_, *wall_clock_);
  link_ = std::make_unique<LinkByPort>(*protocol_, *network_link_, *settings_);
  stats_ = std::make_unique<StatsFile>(ServiceStateFolder() + "/qelta-monitor.stats");
  power_ = std::make_unique<LogindPowerControl>();
  sound_ = std::make_unique<JournalSoundNote>(*balloons_);
  http_ = std::make_unique<TcpHttpPoster>();

  MonitorDependencies deps{*link_,  *this, *this,    *balloons_,      *power_,
                           *sound_, *this, *timers_, *settings_watch_};
  core_ = std::make_unique<MonitorCore>(deps);
  core_->SetSettings(settings_.get());
  post_ = std::make_unique<PostReport>(*settings_, core_->PostTimer(), *http_, [this] {
    const auto& r = view_.readings;
    return MakeReportFields(r[0], r[1], r[2], r[3], r[4], r[5], core_->LastStatus());
  });
  core_->SetPostReport(post_.get());
}

ServiceMonitor::~ServiceMonitor() {
  network_.reset();
  core_->SetPopup(nullptr);
  core_->SetPostReport(nullptr);
  post_.reset();
  core_->SetSettings(nullptr);
}

void ServiceMonitor::Start() {
  RefreshStatus();
  core_->SetPopup(this);
  core_->StartMonitoring(false);
  network_ = std::make_unique<ServedNetwork>(
      *core_, *link_, *timers_, [this] { return static_cast<Settings*>(settings_.get()); },
      [this](const std::string& message) {
        balloons_->ShowBalloon(QStringLiteral("Сервер UPS"), QString::fromStdString(message),
                               BalloonIcon::Error, 5000);
      },
      *errors_);
  RunGuarded(*errors_, [this] { network_->Apply(); });
}

int ServiceMonitor::Search() {
  LinuxSerialAdapters adapters;
  LinkUpsProbe probe(*protocol_, *serial_, *wall_clock_);
  PortSearch search(probe, *settings_, adapters);
  int code = 1;
  RunGuarded(*errors_, [&] {
    // The service itself serves the UPS: only the cable's ports are its own to search.
    std::vector<PortCandidate> order = search.InstallationOrder();
    std::erase_if(order, [](const PortCandidate& c) { return c.port_name == kNetworkPortName; });
    const PortSearchResult result = search.Run(order);
    search.ClearOverride();
    if (!result.found) {
      balloons_->ShowBalloon(QStringLiteral("QELTA MONITOR"),
                             QStringLiteral("UPS не обнаружен ни на одном порту."),
                             BalloonIcon::Error, 5000);
      return;
    }
    settings_->WriteString("Settings", "Port", result.port_name);
    std::printf("%s\n", result.port_name.c_str());
    balloons_->ShowBalloon(QStringLiteral("QELTA MONITOR"),
                           QStringLiteral("UPS обнаружен подключенным к порту %1; записано в %2.")
                               .arg(QString::fromStdString(result.port_name),
                                    QString::fromStdString(settings_->FilePath())),
                           BalloonIcon::Information, 5000);
    code = 0;
  });
  return code;
}

void ServiceMonitor::RefreshStatus() {
  InfoInputs in;
  in.link_ok = core_->LinkOK();
  in.status = core_->LastStatus();
  in.shutdown_pending = core_->ShutdownPending();
  in.shutdown_deadline = core_->ShutdownDeadline();
  in.tick_count = core_->TickCount();
  in.other_computers_left = core_->OtherComputersLeft();
  view_ = ComputeInfoView(in, view_);
}

void ServiceMonitor::ShowStatusBalloon(int kind) {
  const std::optional<StatusBalloon> balloon =
      StatusBalloonFor(kind, core_->LinkOK(), view_.summary);
  if (balloon) balloons_->ShowBalloon(balloon->title, balloon->text, balloon->icon, 5000);
}

void ServiceMonitor::AppendStatsRecord(const TUPSStatusRaw& sample) {
  stats_->AppendStatsRecord(sample);
}

}  // namespace qelta
