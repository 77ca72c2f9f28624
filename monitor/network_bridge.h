#pragma once

#include <string>

#include "network/protocol_server.h"

namespace qelta {

class MonitorCore;
class UpsLink;

// What the network server serves, from the monitor: the last poll's result, and the instant
// commands through the tray menu's own paths (the beeper toggle keeps `Settings`/`Beeper` in
// line with the UPS, as the menu does).
class MonitorServedUps : public ServedUps {
 public:
  MonitorServedUps(MonitorCore& core, UpsLink& link) : core_(core), link_(link) {}

  bool LinkOK() override;
  const TUPSStatus& LastStatus() override;
  uint32_t LastPollTime() override;
  bool RunInstantCommand(const std::string& name) override;

 private:
  MonitorCore& core_;
  UpsLink& link_;
};

}  // namespace qelta
