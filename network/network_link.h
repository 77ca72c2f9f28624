#pragma once

#include <QHostAddress>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "link/modems.h"

class QTcpSocket;

namespace qelta {

class Settings;
class WallClock;

// The port name of a UPS served over the UPS network protocol.
inline constexpr const char* kNetworkPortName = "NET";

// Where the UPS served elsewhere is, from section `Network`: Server (an address or host name,
// default 127.0.0.1), ServerPort (3493), ServerUps (qelta), ServerUser and ServerPassword (empty:
// read-only, no LOGIN, no commands), WatchOnly (false: with a user, this computer LOGINs as one
// that draws power from that UPS).
struct UpsServerSettings {
  std::string host = "127.0.0.1";
  int port = 3493;
  std::string ups = "qelta";
  std::string user;
  std::string password;
  bool watch_only = false;
  bool operator==(const UpsServerSettings&) const = default;
};
UpsServerSettings ReadUpsServerSettings(Settings& settings);

// The status record from a UPS's variables (name to value, as LIST VAR gives them): the readings
// from their variables, the flags from the words of ups.status, the beeper from
// ups.beeper.status. Nothing when ups.status is missing. The beeper flag is never "carried": the
// monitor that serves the UPS keeps its beeper as its own user wants, so a watcher never
// toggles it by itself.
std::optional<TUPSStatus> StatusFromVariables(const std::map<std::string, std::string>& vars);

// Reads the answer to LIST VAR line by line: the BEGIN line, VAR lines of the UPS, the END line.
class ListVarAnswer {
 public:
  enum class State { Reading, Done, Failed };
  explicit ListVarAnswer(std::string ups) : ups_(std::move(ups)) {}
  // One line without its LF.
  State Line(const std::string& line);
  State state() const { return state_; }
  const std::map<std::string, std::string>& Variables() const { return vars_; }
  // The server's error word when it answered ERR (DATA-STALE, UNKNOWN-UPS, ...).
  const std::string& Error() const { return error_; }

 private:
  std::string ups_;
  State state_ = State::Reading;
  bool begun_ = false;
  std::map<std::string, std::string> vars_;
  std::string error_;
};

// The third branch of the link: a UPS served by another monitor (or any server of the UPS
// network protocol). One connection is kept between polls, logged in as the settings say; each
// status query is one LIST VAR. Every exchange is bounded by kExchangeTimeoutMs in all (connect,
// login and answer together), and an answer longer than kMaxAnswerBytes is dropped, so that a
// stalled or hostile server costs one failed poll. A refused connection, a time-out, DATA-STALE
// or any other error is a failed poll. Host names are looked up without blocking: until the
// address is known, polls fail.
class NetworkUpsLink : public UpsLink {
 public:
  static constexpr int kExchangeTimeoutMs = 600;
  static constexpr size_t kMaxAnswerBytes = 64 * 1024;

  NetworkUpsLink(Settings& settings, WallClock& clock);
  ~NetworkUpsLink() override;

  bool QueryUPSStatus(TUPSStatus& status, TUPSStatusRaw& raw) override;
  // test.battery.start.quick.
  bool PerformUPSTest() override;
  // beeper.disable when the last status had it on, else beeper.enable.
  bool ToggleUPSBeeper() override;
  void SetPortOverride(const std::string& port_name) override { override_ = port_name; }
  std::string PortOverride() const override { return override_; }
  bool CommandsAllowed(std::string& hint) override;
  // LOGOUT, so that the primary need not wait for this computer; later polls only watch.
  void ReleaseBeforePowerOff() override;
  void ResumeAfterFailedPowerOff() override;
  std::string ServerName() override;

 private:
  class Deadline;
  // A connected (and, as the settings say, logged-in) socket, or false.
  bool Connect(const UpsServerSettings& server, Deadline& deadline);
  void Drop();
  // Sends `request` and reads one answer line.
  std::optional<std::string> Ask(const std::string& request, Deadline& deadline);
  std::optional<std::string> ReadLine(Deadline& deadline);
  // One LIST VAR on the connected socket; nothing when the connection failed (it is dropped).
  std::optional<ListVarAnswer> ListVariables(const UpsServerSettings& server, Deadline& deadline);
  bool InstantCommand(const std::string& name);
  // The address of `host` when known; starts a lookup otherwise.
  std::optional<QHostAddress> Address(const std::string& host);

  Settings& settings_;
  WallClock& clock_;
  std::string override_;
  std::unique_ptr<QTcpSocket> socket_;
  UpsServerSettings connected_to_;
  std::string buffer_;
  bool last_beeper_ = false;
  bool commands_denied_ = false;
  // This computer is being powered off: polls go on without a login.
  bool released_ = false;
  std::map<std::string, std::vector<QHostAddress>> looked_up_;
  std::map<std::string, bool> lookups_running_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

// The link the stored port names: "NET" (or a port override "NET") is the network link, every
// other name the UPS on a cable.
class LinkByPort : public UpsLink {
 public:
  LinkByPort(UpsLink& cable, UpsLink& network, Settings& settings)
      : cable_(cable), network_(network), settings_(settings) {}

  bool QueryUPSStatus(TUPSStatus& status, TUPSStatusRaw& raw) override;
  bool PerformUPSTest() override { return Stored().PerformUPSTest(); }
  bool ToggleUPSBeeper() override { return Stored().ToggleUPSBeeper(); }
  void SetPortOverride(const std::string& port_name) override;
  std::string PortOverride() const override { return cable_.PortOverride(); }
  bool CommandsAllowed(std::string& hint) override { return Stored().CommandsAllowed(hint); }
  void ReleaseBeforePowerOff() override;
  void ResumeAfterFailedPowerOff() override;
  std::string ServerName() override { return Stored().ServerName(); }

 private:
  UpsLink& Stored();

  UpsLink& cable_;
  UpsLink& network_;
  Settings& settings_;
};

}  // namespace qelta
