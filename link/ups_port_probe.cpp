#include "link/ups_port_probe.h"

#include "link/no_hid_branch.h"
#include "link/ups.h"
#include "settings/memory_settings.h"
#include "settings/setting_keys.h"

namespace qelta {

bool LinkUpsProbe::QueryStatus() {
  // The records are the search's own and are dropped: the monitor's last sample stays.
  TUPSStatus status;
  TUPSStatusRaw raw;
  return link_.QueryUPSStatus(status, raw);
}

bool LinkUpsProbe::QueryDevice(const std::string& device) {
  MemorySettings settings;
  settings.WriteString(kPorts, "COM1", device);
  SerialPort serial(settings);
  NoHidBranch hid;
  UpsTransport transport(serial, hid);
  UpsProtocol protocol(transport, settings, clock_);
  protocol.SetPortOverride("COM1");
  TUPSStatus status;
  TUPSStatusRaw raw;
  return protocol.QueryUPSStatus(status, raw);
}

std::string LinkUpsProbe::PortDevice(const std::string& port_name) {
  return serial_.DevicePath(port_name).value_or(std::string());
}

}  // namespace qelta
