#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "link/status_records.h"
#include "network/served_variables.h"

namespace qelta {

// What the server serves and does, as the monitor gives it.
class ServedUps {
 public:
  virtual ~ServedUps() = default;
  // The last poll reached the UPS; while not, data requests answer DATA-STALE.
  virtual bool LinkOK() = 0;
  // The last good poll's status and its time stamp (local wall-clock seconds).
  virtual const TUPSStatus& LastStatus() = 0;
  virtual uint32_t LastPollTime() = 0;
  // Runs one of InstantCommandNames() through the same path as the tray menu; false when the
  // UPS could not be told.
  virtual bool RunInstantCommand(const std::string& name) = 0;
};

// One user of the server.
struct NetworkUser {
  std::string name;
  std::string password;
  bool secondary = false;  // may LOGIN: its machine draws power from this UPS
  bool instcmds = false;   // may run the instant commands
};

// What the server needs of the settings; read again at every batch of requests.
struct ServedConfig {
  std::string ups_name = "qelta";
  std::string description;
  std::vector<NetworkUser> users;
};

// Bounds that keep hostile and broken clients from stalling the monitor or growing its memory.
struct ServerLimits {
  size_t max_line = 512;        // a longer request line closes the connection
  size_t max_connections = 32;  // more are closed at once
  int64_t idle_ms = 120000;     // a connection that sends nothing this long is closed
  size_t max_unsent = 65536;    // a client that does not read is dropped past this
};

// The line handling of the UPS network protocol for every connection, free of sockets: the
// socket side hands it the bytes each connection sent and writes back what it answers. Times
// are milliseconds on any steady scale the caller chooses.
class ProtocolServer {
 public:
  using ConfigSource = std::function<ServedConfig()>;

  ProtocolServer(ServedUps& ups, ConfigSource config, ServerLimits limits = {});

  // A connection from `address` opened; false when it must be closed at once (too many).
  bool Open(int id, const std::string& address, int64_t now_ms);
  // What to send back for the bytes `id` sent, and whether to close it after that.
  struct Answer {
    std::string bytes;
    bool close = false;
  };
  Answer Receive(int id, std::string_view data, int64_t now_ms);
  // The connection is gone (closed by either side).
  void Closed(int id);
  // The connections that sent nothing for longer than the idle limit.
  std::vector<int> IdleConnections(int64_t now_ms) const;
  // When the next connection may become idle; -1 with no connection.
  int64_t NextIdleCheck() const;
  const ServerLimits& Limits() const { return limits_; }

  // The forced-shutdown flag: ups.status gains FSD while set.
  void SetForcedShutdown(bool on) { forced_shutdown_ = on; }
  bool ForcedShutdown() const { return forced_shutdown_; }
  // Connections that did LOGIN and are still open.
  int LoginCount() const;
  size_t ConnectionCount() const { return sessions_.size(); }

 private:
  struct Session {
    std::string address;
    std::string pending;  // bytes of a line not yet ended
    std::string username;
    std::string password;
    bool has_username = false;
    bool has_password = false;
    bool logged_in = false;
    int64_t last_seen_ms = 0;
  };

  // Answers one request line; sets `close` for LOGOUT.
  std::string Handle(Session& session, const std::vector<std::string>& args,
                     const ServedConfig& config, bool& close);
  std::string HandleGet(Session& session, const std::vector<std::string>& args,
                        const ServedConfig& config);
  std::string HandleList(const std::vector<std::string>& args, const ServedConfig& config);
  std::string HandleLogin(Session& session, const std::vector<std::string>& args,
                          const ServedConfig& config);
  std::string HandleInstantCommand(Session& session, const std::vector<std::string>& args,
                                   const ServedConfig& config);
  // The user whose name and password the session gave, or null.
  const NetworkUser* Authenticated(const Session& session, const ServedConfig& config) const;
  std::vector<ServedVariable> Variables();

  ServedUps& ups_;
  ConfigSource config_;
  ServerLimits limits_;
  std::map<int, Session> sessions_;
  bool forced_shutdown_ = false;
};

}  // namespace qelta
