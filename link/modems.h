#pragma once

#include <string>

#include "link/status_records.h"

namespace qelta {

class Settings;
class UpsTransport;
class WallClock;

// The three exchanges with the UPS that the rest of the program uses.
class UpsLink {
 public:
  virtual ~UpsLink() = default;
  // Sends "Q1\r" and parses the reply into both records; false (records untouched) when no
  // reply beginning with "(" came.
  virtual bool QueryUPSStatus(TUPSStatus& status, TUPSStatusRaw& raw) = 0;
  // Send "T\r" / "Q\r" on the stored port; true when the port could be opened.
  virtual bool PerformUPSTest() = 0;
  virtual bool ToggleUPSBeeper() = 0;
  // When not empty, the status query uses this port name instead of the stored one.
  virtual void SetPortOverride(const std::string& port_name) = 0;
  virtual std::string PortOverride() const = 0;
  // Whether the test and beeper commands can reach the UPS on the stored port; when not,
  // `hint` says why (in the user's language).
  virtual bool CommandsAllowed(std::string& hint) {
    hint.clear();
    return true;
  }
  // This computer is about to be powered off: a link that holds a login somewhere ends it, and
  // does not take it again while the power-off is under way.
  virtual void ReleaseBeforePowerOff() {}
  // The power-off did not come: this computer draws power again, so its login is taken again.
  virtual void ResumeAfterFailedPowerOff() {}
  // The server a UPS served elsewhere is read from ("ups@host:port"); empty for a cable.
  virtual std::string ServerName() { return {}; }
};

// Parses a reply line that begins with "(" (steps after the check of the first character):
// drops the "(", one trailing CR or LF, splits the words and sets the texts and flags.
TUPSStatus ParseStatusReply(const std::string& reply);

// The protocol over the transport, taking the port from `Settings`/`Port` ("COM1" default).
class UpsProtocol : public UpsLink {
 public:
  UpsProtocol(UpsTransport& transport, Settings& settings, WallClock& clock)
      : transport_(transport), settings_(settings), clock_(clock) {}

  bool QueryUPSStatus(TUPSStatus& status, TUPSStatusRaw& raw) override;
  bool PerformUPSTest() override;
  bool ToggleUPSBeeper() override;
  void SetPortOverride(const std::string& port_name) override { port_override_ = port_name; }
  std::string PortOverride() const override { return port_override_; }

 private:
  bool SendCommand(const std::string& command);
  std::string StoredPort();

  UpsTransport& transport_;
  Settings& settings_;
  WallClock& clock_;
  std::string port_override_;
};

}  // namespace qelta
