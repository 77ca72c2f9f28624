#pragma once

#include <functional>
#include <memory>
#include <string>

class QObject;

namespace qelta {

class ErrorReporter;
class MonitorCore;
class MonitorServedUps;
class NetworkServer;
class ProtocolServer;
class SecondaryShutdown;
class Settings;
class TimerFactory;
class UpsLink;

// The monitor's UPS served to the other computers on it, as `Network` in the settings says:
// the protocol server over the core's last poll, the shutdown of the others (FSD and the wait)
// before this computer's power-off, and the listeners. The tray program and the service mode
// build it; it detaches itself from the core when it goes. A monitor on the "NET" link serves
// the UPS again only when `Network`/`Serve` says so.
class ServedNetwork {
 public:
  // `settings` gives the store, or null once it is closed. A listener that cannot be opened is
  // told through `listen_failed` (the tray's balloon, the service's journal line); a client's
  // command that the store failed is answered as failed and told through `errors`, as the
  // program's other store failures are.
  ServedNetwork(MonitorCore& core, UpsLink& link, TimerFactory& timers,
                std::function<Settings*()> settings,
                std::function<void(const std::string&)> listen_failed, ErrorReporter& errors);

  ~ServedNetwork();

  // Listens as the settings say now.
  void Apply();

 private:
  MonitorCore& core_;
  // Owns the deferred reports of failed commands: they go with it.
  std::unique_ptr<QObject> report_context_;
  std::unique_ptr<MonitorServedUps> served_ups_;
  std::unique_ptr<ProtocolServer> protocol_server_;
  std::unique_ptr<SecondaryShutdown> secondary_shutdown_;
  std::unique_ptr<NetworkServer> network_server_;
};

}  // namespace qelta
