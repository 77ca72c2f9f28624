#include "monitor/network_bridge.h"

#include "link/modems.h"
#include "monitor/monitor_core.h"
#include "settings/settings.h"

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
  // The beeper command stores the beeper preference; a store that fails (the service's settings
  // file is read-only to it) must not throw through the socket handler.
  try {
    return RunCommand(name);
  } catch (const StoreError& error) {
    if (store_failed_) store_failed_(error.what());
    return false;
  }
}

bool MonitorServedUps::RunCommand(const std::string& name) {
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
