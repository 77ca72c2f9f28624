#pragma once

#include <string>

#include "link/modems.h"
#include "link/serial_port.h"
#include "platform/wall_clock.h"
#include "settings/port_search.h"

namespace qelta {

// The port search's status query over the program's own link: port names go through the link's
// PortOverride and its serial branch, so a found port is asked exactly as the polls will ask it.
// A device that no port name leads to is asked over a link of its own, on which COM1 leads to
// that device; the program's link and settings are left alone meanwhile.
class LinkUpsProbe : public UpsProbe {
 public:
  // All references must outlive the probe; `serial` is the link's serial branch.
  LinkUpsProbe(UpsLink& link, SerialPort& serial, WallClock& clock)
      : link_(link), serial_(serial), clock_(clock) {}

  void SetPortOverride(const std::string& port_name) override { link_.SetPortOverride(port_name); }
  bool QueryStatus() override;
  bool QueryDevice(const std::string& device) override;
  std::string PortDevice(const std::string& port_name) override;

 private:
  UpsLink& link_;
  SerialPort& serial_;
  WallClock& clock_;
};

}  // namespace qelta
