#pragma once

#include <functional>
#include <string>

#include "network/protocol_server.h"

namespace qelta {

class MonitorCore;
class UpsLink;

// What the network server serves, from the monitor: the last poll's result, and the instant
// commands through the tray menu's own paths (the beeper toggle keeps `Settings`/`Beeper` in
// line with the UPS, as the menu does). A command whose store fails is answered as failed;
// `store_failed` gets the store's message, to tell the user (it must not wait for the user: the
// client's answer waits for it).
class MonitorServedUps : public ServedUps {
 public:
  MonitorServedUps(MonitorCore& core, UpsLink& link,
                   std::function<void(const std::string&)> store_failed)
      : core_(core), link_(link), store_failed_(std::move(store_failed)) {}

  bool LinkOK() override;
  const TUPSStatus& LastStatus() override;
  uint32_t LastPollTime() override;
  bool RunInstantCommand(const std::string& name) override;

 private:
  bool RunCommand(const std::string& name);

  MonitorCore& core_;
  UpsLink& link_;
  std::function<void(const std::string&)> store_failed_;
};

}  // namespace qelta
