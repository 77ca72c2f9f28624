#include "monitor/served_network.h"

#include <QString>

#include "monitor/monitor_core.h"
#include "monitor/network_bridge.h"
#include "network/network_config.h"
#include "network/network_server.h"
#include "network/protocol_server.h"
#include "network/secondary_shutdown.h"
#include "platform/balloon.h"
#include "settings/settings.h"

namespace qelta {
namespace {

// The served UPS with the instant commands' store failures told rather than thrown through the
// socket handlers: the beeper command stores the beeper preference, and the service's settings
// file is read-only to it.
class GuardedServedUps : public ServedUps {
 public:
  GuardedServedUps(ServedUps& inner, BalloonSink& balloons) : inner_(inner), balloons_(balloons) {}
  bool LinkOK() override { return inner_.LinkOK(); }
  const TUPSStatus& LastStatus() override { return inner_.LastStatus(); }
  uint32_t LastPollTime() override { return inner_.LastPollTime(); }
  bool RunInstantCommand(const std::string& name) override {
    try {
      return inner_.RunInstantCommand(name);
    } catch (const StoreError& error) {
      balloons_.ShowBalloon(QStringLiteral("Сервер UPS"),
                            QString::fromStdString(name + ": " + error.what()), BalloonIcon::Error,
                            5000);
      return false;
    }
  }

 private:
  ServedUps& inner_;
  BalloonSink& balloons_;
};

}  // namespace

ServedNetwork::ServedNetwork(MonitorCore& core, UpsLink& link, TimerFactory& timers,
                             std::function<Settings*()> settings, BalloonSink& balloons)
    : core_(core) {
  served_ups_ = std::make_unique<MonitorServedUps>(core, link);
  guarded_ups_ = std::make_unique<GuardedServedUps>(*served_ups_, balloons);
  // Read at every batch of requests; a store that fails serves no users rather than stopping.
  protocol_server_ = std::make_unique<ProtocolServer>(*guarded_ups_, [settings] {
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
