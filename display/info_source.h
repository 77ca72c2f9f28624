#pragma once

#include <cstdint>
#include <string>

#include "link/status_records.h"

namespace qelta {

// What the pop-up reads from the main window at each refresh.
class InfoSource {
 public:
  virtual ~InfoSource() = default;
  virtual bool LinkOK() const = 0;
  virtual const TUPSStatus& LastStatus() const = 0;
  virtual bool ShutdownPending() const = 0;
  virtual uint32_t ShutdownDeadline() const = 0;
  virtual uint32_t TickCount() = 0;                      // current millisecond tick
  virtual void SetPerformTestEnabled(bool enabled) = 0;  // the tray menu's PerformTestMenu
  // While the power-off waits for the other computers on this UPS: how many are still up;
  // -1 otherwise.
  virtual int OtherComputersLeft() const { return -1; }
  // The server of a UPS served elsewhere ("ups@host:port"), named in the pop-up's title; empty
  // for a UPS on a cable.
  virtual std::string ServerName() { return {}; }
};

}  // namespace qelta
