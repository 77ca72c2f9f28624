#include "network/protocol_server.h"

#include <algorithm>
#include <optional>

#include "network/request_line.h"
#include "network/served_variables.h"

namespace qelta {
namespace {

const char* const kHelp =
    "Commands: HELP VER NETVER GET LIST SET INSTCMD LOGIN LOGOUT USERNAME PASSWORD STARTTLS";
const char* const kVersion = "QELTA MONITOR 0.99.6 - UPS network protocol server";
const char* const kProtocolVersion = "1.3";

std::string Line(std::string text) {
  text += '\n';
  return text;
}

std::string Error(const char* word) {
  return Line(std::string("ERR ") + word);
}

std::string CommandDescription(const std::string& name) {
  if (name == "beeper.toggle") return "Toggle the UPS beeper";
  if (name == "beeper.enable") return "Enable the UPS beeper";
  if (name == "beeper.disable") return "Disable the UPS beeper";
  return "Start a quick battery test";
}

bool IsInstantCommand(const std::string& name) {
  const auto& names = InstantCommandNames();
  return std::find(names.begin(), names.end(), name) != names.end();
}

const ServedVariable* Find(const std::vector<ServedVariable>& vars, const std::string& name) {
  for (const ServedVariable& v : vars) {
    if (v.name == name) return &v;
  }
  return nullptr;
}

}  // namespace

ProtocolServer::ProtocolServer(ServedUps& ups, ConfigSource config, ServerLimits limits)
    : ups_(ups), config_(std::move(config)), limits_(limits) {}

bool ProtocolServer::Open(int id, const std::string& address, int64_t now_ms) {
  if (sessions_.size() >= limits_.max_connections) return false;
  Session& session = sessions_[id];
  session = Session{};
  session.address = address;
  session.last_seen_ms = now_ms;
  return true;
}

void ProtocolServer::Closed(int id) {
  sessions_.erase(id);
}

int ProtocolServer::LoginCount() const {
  return static_cast<int>(std::count_if(sessions_.begin(), sessions_.end(),
                                        [](const auto& entry) { return entry.second.logged_in; }));
}

std::vector<int> ProtocolServer::IdleConnections(int64_t now_ms) const {
  std::vector<int> idle;
  for (const auto& [id, session] : sessions_) {
    if (now_ms - session.last_seen_ms >= limits_.idle_ms) idle.push_back(id);
  }
  return idle;
}

int64_t ProtocolServer::NextIdleCheck() const {
  int64_t next = -1;
  for (const auto& [id, session] : sessions_) {
    const int64_t due = session.last_seen_ms + limits_.idle_ms;
    if (next < 0 || due < next) next = due;
  }
  return next;
}

ProtocolServer::Answer ProtocolServer::Receive(int id, std::string_view data, int64_t now_ms) {
  Answer answer;
  const auto found = sessions_.find(id);
  if (found == sessions_.end()) {
    answer.close = true;
    return answer;
  }
  Session& session = found->second;
  session.last_seen_ms = now_ms;
  std::optional<ServedConfig> config;
  while (!data.empty()) {
    const size_t end = data.find('\n');
    const std::string_view piece = data.substr(0, end);
    if (session.pending.size() + piece.size() > limits_.max_line) {
      answer.bytes += Error("TOO-LONG");
      answer.close = true;
      return answer;
    }
    session.pending.append(piece);
    if (end == std::string_view::npos) break;
    data.remove_prefix(end + 1);
    const std::string line = std::move(session.pending);
    session.pending.clear();
    const auto args = SplitRequestLine(line);
    if (!args) {
      answer.bytes += Error("INVALID-ARGUMENT");
      continue;
    }
    if (args->empty()) continue;
    if (!config) config = config_();
    answer.bytes += Handle(session, *args, *config, answer.close);
    if (answer.close) return answer;
  }
  return answer;
}

std::vector<ServedVariable> ProtocolServer::Variables() {
  return ServedVariables(ups_.LastStatus(), ups_.LastPollTime(), forced_shutdown_);
}

std::string ProtocolServer::Handle(Session& session, const std::vector<std::string>& args,
                                   const ServedConfig& config, bool& close) {
  const std::string& command = args[0];
  const size_t n = args.size();
  if (command == "VER") return Line(kVersion);
  if (command == "NETVER") return Line(kProtocolVersion);
  if (command == "HELP") return Line(kHelp);
  if (command == "GET") return HandleGet(session, args, config);
  if (command == "LIST") return HandleList(args, config);
  if (command == "STARTTLS") return Error("FEATURE-NOT-CONFIGURED");
  if (command == "USERNAME") {
    if (n != 2) return Error("INVALID-ARGUMENT");
    if (session.has_username) return Error("ALREADY-SET-USERNAME");
    session.username = args[1];
    session.has_username = true;
    return Line("OK");
  }
  if (command == "PASSWORD") {
    if (n != 2) return Error("INVALID-ARGUMENT");
    if (session.has_password) return Error("ALREADY-SET-PASSWORD");
    session.password = args[1];
    session.has_password = true;
    return Line("OK");
  }
  if (command == "LOGIN") return HandleLogin(session, args, config);
  if (command == "LOGOUT") {
    close = true;
    return Line("OK Goodbye");
  }
  if (command == "INSTCMD") return HandleInstantCommand(session, args, config);
  if (command == "PRIMARY" || command == "MASTER" || command == "FSD") {
    // This monitor is the primary: no client takes that part or forces the shutdown.
    if (n != 2) return Error("INVALID-ARGUMENT");
    if (args[1] != config.ups_name) return Error("UNKNOWN-UPS");
    return Error("ACCESS-DENIED");
  }
  if (command == "SET") {
    if (n != 5 || args[1] != "VAR") return Error("INVALID-ARGUMENT");
    if (args[2] != config.ups_name) return Error("UNKNOWN-UPS");
    if (Find(Variables(), args[3]) == nullptr) return Error("VAR-NOT-SUPPORTED");
    return Error("READONLY");
  }
  return Error("UNKNOWN-COMMAND");
}

std::string ProtocolServer::HandleGet(Session& /*session*/, const std::vector<std::string>& args,
                                      const ServedConfig& config) {
  const size_t n = args.size();
  if (n < 3) return Error("INVALID-ARGUMENT");
  const std::string& what = args[1];
  const std::string& ups = args[2];
  const bool known_ups = ups == config.ups_name;
  if (what == "UPSDESC" || what == "NUMLOGINS") {
    if (n != 3) return Error("INVALID-ARGUMENT");
    if (!known_ups) return Error("UNKNOWN-UPS");
    if (what == "NUMLOGINS") return Line("NUMLOGINS " + ups + " " + std::to_string(LoginCount()));
    return Line("UPSDESC " + ups + " " +
                QuotedValue(config.description.empty() ? "Unavailable" : config.description));
  }
  if (what == "CMDDESC") {
    if (n != 4) return Error("INVALID-ARGUMENT");
    if (!known_ups) return Error("UNKNOWN-UPS");
    if (!IsInstantCommand(args[3])) return Error("CMD-NOT-SUPPORTED");
    return Line("CMDDESC " + ups + " " + args[3] + " " + QuotedValue(CommandDescription(args[3])));
  }
  if (what != "VAR" && what != "TYPE" && what != "DESC") return Error("INVALID-ARGUMENT");
  if (n != 4) return Error("INVALID-ARGUMENT");
  if (!known_ups) return Error("UNKNOWN-UPS");
  const std::string& name = args[3];
  if (!ups_.LinkOK()) {
    // Whatever the link, a client must learn that it is to shut down.
    if (what == "VAR" && name == "ups.status" && forced_shutdown_) {
      return Line("VAR " + ups + " ups.status " + QuotedValue("FSD"));
    }
    return Error("DATA-STALE");
  }
  const std::vector<ServedVariable> vars = Variables();
  const ServedVariable* var = Find(vars, name);
  if (var == nullptr) return Error("VAR-NOT-SUPPORTED");
  if (what == "VAR") return Line("VAR " + ups + " " + name + " " + QuotedValue(var->value));
  if (what == "TYPE")
    return Line("TYPE " + ups + " " + name + (var->numeric ? " NUMBER" : " STRING:64"));
  return Line("DESC " + ups + " " + name + " " + QuotedValue("Description unavailable"));
}

std::string ProtocolServer::HandleList(const std::vector<std::string>& args,
                                       const ServedConfig& config) {
  const size_t n = args.size();
  if (n < 2) return Error("INVALID-ARGUMENT");
  const std::string& what = args[1];
  if (what == "UPS") {
    if (n != 2) return Error("INVALID-ARGUMENT");
    return Line("BEGIN LIST UPS") +
           Line("UPS " + config.ups_name + " " +
                QuotedValue(config.description.empty() ? "Unavailable" : config.description)) +
           Line("END LIST UPS");
  }
  const bool per_variable = what == "ENUM" || what == "RANGE";
  if (what != "VAR" && what != "RW" && what != "CMD" && what != "CLIENT" && !per_variable) {
    return Error("INVALID-ARGUMENT");
  }
  if (n != (per_variable ? 4u : 3u)) return Error("INVALID-ARGUMENT");
  const std::string& ups = args[2];
  if (ups != config.ups_name) return Error("UNKNOWN-UPS");
  const std::string frame = what + " " + ups + (per_variable ? " " + args[3] : "");
  std::string body;
  if (what == "CMD") {
    for (const std::string& name : InstantCommandNames()) body += Line("CMD " + ups + " " + name);
  } else if (what == "CLIENT") {
    for (const auto& [id, s] : sessions_) {
      if (s.logged_in) body += Line("CLIENT " + ups + " " + s.address);
    }
  } else {
    if (!ups_.LinkOK()) return Error("DATA-STALE");
    const std::vector<ServedVariable> vars = Variables();
    if (what == "VAR") {
      for (const ServedVariable& v : vars) {
        body += Line("VAR " + ups + " " + v.name + " " + QuotedValue(v.value));
      }
    } else if (per_variable && Find(vars, args[3]) == nullptr) {
      return Error("VAR-NOT-SUPPORTED");
    }
    // Nothing here is writable, and no variable has a list or range of values.
  }
  return Line("BEGIN LIST " + frame) + body + Line("END LIST " + frame);
}

const NetworkUser* ProtocolServer::Authenticated(const Session& session,
                                                 const ServedConfig& config) const {
  const NetworkUser* found = nullptr;
  for (const NetworkUser& user : config.users) {
    if (found == nullptr && user.name == session.username) found = &user;
  }
  // A user without a password never gets in; the comparison runs whatever the name gave.
  const std::string_view stored = found != nullptr ? std::string_view(found->password) : "";
  const bool match = SecretsEqual(stored, session.password);
  if (found == nullptr || found->password.empty() || !match) return nullptr;
  return found;
}

std::string ProtocolServer::HandleLogin(Session& session, const std::vector<std::string>& args,
                                        const ServedConfig& config) {
  if (args.size() != 2) return Error("INVALID-ARGUMENT");
  if (session.logged_in) return Error("ALREADY-LOGGED-IN");
  if (!session.has_username) return Error("USERNAME-REQUIRED");
  if (!session.has_password) return Error("PASSWORD-REQUIRED");
  const NetworkUser* user = Authenticated(session, config);
  if (user == nullptr || !user->secondary) return Error("ACCESS-DENIED");
  if (args[1] != config.ups_name) return Error("UNKNOWN-UPS");
  session.logged_in = true;
  return Line("OK");
}

std::string ProtocolServer::HandleInstantCommand(Session& session,
                                                 const std::vector<std::string>& args,
                                                 const ServedConfig& config) {
  if (args.size() != 3 && args.size() != 4) return Error("INVALID-ARGUMENT");
  if (!session.has_username) return Error("USERNAME-REQUIRED");
  if (!session.has_password) return Error("PASSWORD-REQUIRED");
  const NetworkUser* user = Authenticated(session, config);
  if (user == nullptr || !user->instcmds) return Error("ACCESS-DENIED");
  if (args[1] != config.ups_name) return Error("UNKNOWN-UPS");
  if (!IsInstantCommand(args[2])) return Error("CMD-NOT-SUPPORTED");
  if (args.size() == 4) return Error("INVALID-ARGUMENT");  // none of ours takes a parameter
  if (!ups_.RunInstantCommand(args[2])) return Error("INSTCMD-FAILED");
  return Line("OK");
}

}  // namespace qelta
