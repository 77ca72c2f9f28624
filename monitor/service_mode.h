#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "display/info_text.h"
#include "monitor/monitor_core.h"
#include "monitor/monitor_ports.h"

namespace qelta {

class BalloonSink;
class ErrorReporter;
class HidBranch;
class HttpPoster;
class LinkByPort;
class NetworkUpsLink;
class PostReport;
class PowerControl;
class SerialPort;
class ServedNetwork;
class SettingsStore;
class SoundPlayer;
class StatsFile;
class TimerFactory;
class UpsProtocol;
class UpsTransport;
class WallClock;
class ChangeNotice;

inline constexpr const char* kDefaultServiceSettings = "/etc/qelta-monitor/qelta-monitor.ini";
inline constexpr const char* kDefaultServiceStateFolder = "/var/lib/qelta-monitor";

// What `--service` was told.
struct ServiceOptions {
  std::string settings_path = kDefaultServiceSettings;
  // Look for the UPS as the installer does, store the port found, and end.
  bool search = false;
};

// Reads the arguments that follow "--service": "--config FILE" and "--search". `error` says
// what was wrong when nothing comes back.
std::optional<ServiceOptions> ParseServiceArguments(const std::vector<std::string>& arguments,
                                                    std::string& error);

// Where the service keeps its statistics: the first folder of $STATE_DIRECTORY (systemd's
// StateDirectory=) when set, else /var/lib/qelta-monitor.
std::string ServiceStateFolder();

// The process entry of `qelta-monitor --service ...` (argv[1] is "--service"): the event loop of
// a QCoreApplication, which opens no display connection. Returns the exit code.
int RunServiceMode(int argc, char* argv[]);

// The monitor without a display, for a system service: the same core, link, statistics, HTTP
// report, battery policy and network server as the tray program, with no tray, no window, no
// installer and no session bus. Balloons and errors go to standard error as journal lines; the
// power-off goes to logind on the system bus. Needs a QCoreApplication.
class ServiceMonitor : private TrayIconView,
                       private StatusPopup,
                       private KeyboardState,
                       private StatsAppender {
 public:
  explicit ServiceMonitor(const ServiceOptions& options);
  ~ServiceMonitor() override;

  // Starts monitoring; the event loop does the rest.
  void Start();
  // --search: tries USB, COM1..COM8 and the serial adapters; stores and prints the port found.
  // The process's exit code: 0 found, 1 not found.
  int Search();

  MonitorCore& Core() { return *core_; }

 private:
  // TrayIconView: there is no tray.
  void ShowTrayIcon(int) override {}
  // StatusPopup: the readings for the HTTP report and the status balloons as journal lines.
  void RefreshStatus() override;
  void ShowStatusBalloon(int kind) override;
  void ShowNearClick(int, int) override {}
  // KeyboardState: no keyboard.
  bool CtrlDown() override { return false; }
  bool NeedsPolling() override { return false; }
  void SetChangeHandler(std::function<void()>) override {}
  // StatsAppender
  void AppendStatsRecord(const TUPSStatusRaw& sample) override;

  std::unique_ptr<ErrorReporter> errors_;
  std::unique_ptr<BalloonSink> balloons_;
  std::unique_ptr<TimerFactory> timers_;
  std::unique_ptr<WallClock> wall_clock_;
  std::unique_ptr<SettingsStore> settings_;
  std::unique_ptr<ChangeNotice> settings_watch_;
  std::unique_ptr<SerialPort> serial_;
  std::unique_ptr<HidBranch> hid_;
  std::unique_ptr<UpsTransport> transport_;
  std::unique_ptr<UpsProtocol> protocol_;
  std::unique_ptr<NetworkUpsLink> network_link_;
  std::unique_ptr<LinkByPort> link_;
  std::unique_ptr<StatsFile> stats_;
  std::unique_ptr<PowerControl> power_;
  std::unique_ptr<SoundPlayer> sound_;
  std::unique_ptr<HttpPoster> http_;
  std::unique_ptr<MonitorCore> core_;
  std::unique_ptr<PostReport> post_;
  std::unique_ptr<ServedNetwork> network_;
  InfoView view_;
};

}  // namespace qelta
