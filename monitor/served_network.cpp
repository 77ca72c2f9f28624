#include "monitor/served_network.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include "monitor/monitor_core.h"
#include "monitor/network_bridge.h"
#include "network/network_config.h"
#include "network/network_link.h"
#include "network/network_server.h"
#include "network/protocol_server.h"
#include "network/secondary_shutdown.h"
#include "platform/error_reporter.h"
#include "settings/settings.h"

namespace qelta {
ServedNetwork::ServedNetwork(MonitorCore& core, UpsLink& link, TimerFactory& timers,
                             std::function<Settings*()> settings,
                             std::function<void(const std::string&)> listen_failed,
                             ErrorReporter& errors)
    : core_(core), report_context_(std::make_unique<QObject>()) {
  // A client's command whose store failed is answered first; the user is told afterwards, as
  // of any other handler's store failure (the tray's box waits for the user).
  served_ups_ = std::make_unique<MonitorServedUps>(
      core, link, [context = report_context_.get(), &errors](const std::string& message) {
        QTimer::singleShot(0, context, [&errors, text = QString::fromStdString(message)] {
          errors.ShowError(text);
        });
      });
  // Read at every batch of requests; a store that fails serves no users rather than stopping.
  protocol_server_ = std::make_unique<ProtocolServer>(*served_ups_, [settings] {
    try {
      if (Settings* store = settings()) return ReadServedConfig(*store);
    } catch (const StoreError&) {
    }
    return ServedConfig{};
  });
  secondary_shutdown_ = std::make_unique<SecondaryShutdown>(*protocol_server_, timers, [settings] {
    int seconds = kDefaultSecondaryWaitSeconds;
    try {
      if (Settings* store = settings()) seconds = ReadSecondaryWaitSeconds(*store);
    } catch (const StoreError&) {
    }
    return seconds * 1000;
  });
  core_.SetOtherComputers(secondary_shutdown_.get());
  network_server_ = std::make_unique<NetworkServer>(
      *protocol_server_, timers,
      [settings] {
        try {
          Settings* store = settings();
          if (store == nullptr) return ListenConfig{false, {}, 0};
          ListenConfig config = ReadListenConfig(*store);
          // Watching a UPS that a server on this or another computer serves already, this
          // monitor serves it again only when told to (it would find the port taken).
          if (store->ReadString("Settings", "Port", "COM1") == kNetworkPortName &&
              store->ReadString(kNetworkSection, "Serve", "").empty()) {
            config.serve = false;
          }
          return config;
        } catch (const StoreError&) {
        }
        return ListenConfig{false, {}, 0};
      },
      std::move(listen_failed));
}

ServedNetwork::~ServedNetwork() {
  core_.SetOtherComputers(nullptr);
  network_server_.reset();
  secondary_shutdown_.reset();
  protocol_server_.reset();
}

void ServedNetwork::Apply() {
  network_server_->Apply();
}

}  // namespace qelta
