#include "monitor/served_network.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include "monitor/monitor_core.h"
#include "monitor/network_bridge.h"
#include "network/network_config.h"
#include "network/network_server.h"
#include "network/protocol_server.h"
#include "network/secondary_shutdown.h"
#include "platform/balloon.h"
#include "platform/error_reporter.h"
#include "settings/settings.h"

namespace qelta {
ServedNetwork::ServedNetwork(MonitorCore& core, UpsLink& link, TimerFactory& timers,
                             std::function<Settings*()> settings, BalloonSink& balloons,
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
          if (Settings* store = settings()) return ReadListenConfig(*store);
        } catch (const StoreError&) {
        }
        return ListenConfig{false, {}, 0};
      },
      [&balloons](const std::string& message) {
        balloons.ShowBalloon(QStringLiteral("Сервер UPS"), QString::fromStdString(message),
                             BalloonIcon::Error, 5000);
      });
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
