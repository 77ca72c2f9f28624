#include "monitor/network_bridge.h"

#include "link/modems.h"
#include "monitor/monitor_core.h"

namespace qelta {

bool MonitorServedUps::LinkOK() {
  // Before the first poll there is nothing to serve either.
  return core_.LinkOK() && core_.LinkState() == 2;
}

const TUPSStatus& MonitorServedUps::LastStatus() {
  return core_.LastStatus();
}

uint32_t MonitorServedUps::LastPollTime() {
  return core_.LastSample().time;
}

bool MonitorServedUps::RunInstantCommand(const std::string& name) {
  if (name == "test.battery.start.quick") return link_.PerformUPSTest();
  if (!core_.LinkOK()) return false;
  const bool before = core_.LastStatus().status_beeper;
  bool wanted = !before;
  if (name == "beeper.enable") wanted = true;
  if (name == "beeper.disable") wanted = false;
  if (wanted == before && name != "beeper.toggle") return true;
  core_.ToggleBeeperMenuClick();
  return core_.LinkOK() && core_.LastStatus().status_beeper == wanted;
}

}  // namespace qelta
