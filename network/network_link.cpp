#include "network/network_link.h"

#include <QElapsedTimer>
#include <QHostInfo>
#include <QTcpSocket>
#include <algorithm>
#include <sstream>

#include "network/request_line.h"
#include "platform/wall_clock.h"
#include "settings/settings.h"

namespace qelta {
namespace {

constexpr const char* kSection = "Network";
constexpr size_t kMaxLine = 4096;

const std::string& Value(const std::map<std::string, std::string>& vars, const char* name) {
  static const std::string empty;
  const auto it = vars.find(name);
  return it != vars.end() ? it->second : empty;
}

}  // namespace

UpsServerSettings ReadUpsServerSettings(Settings& settings) {
  UpsServerSettings s;
  s.host = settings.ReadString(kSection, "Server", s.host);
  s.port = settings.ReadInteger(kSection, "ServerPort", s.port);
  s.ups = settings.ReadString(kSection, "ServerUps", s.ups);
  s.user = settings.ReadString(kSection, "ServerUser", "");
  s.password = settings.ReadString(kSection, "ServerPassword", "");
  s.watch_only = settings.ReadBool(kSection, "WatchOnly", false);
  return s;
}

std::optional<TUPSStatus> StatusFromVariables(const std::map<std::string, std::string>& vars) {
  if (vars.find("ups.status") == vars.end()) return std::nullopt;
  TUPSStatus status;
  status.IP_voltage = Value(vars, "input.voltage");
  status.IP_fault_voltage = Value(vars, "input.voltage.fault");
  status.OP_voltage = Value(vars, "output.voltage");
  status.OP_current = Value(vars, "ups.load");
  status.OP_frequency = Value(vars, "input.frequency");
  if (status.OP_frequency.empty()) status.OP_frequency = Value(vars, "output.frequency");
  status.battery_voltage = Value(vars, "battery.voltage");
  status.temp = Value(vars, "ups.temperature");

  std::istringstream words(Value(vars, "ups.status"));
  bool regulates = false;
  for (std::string word; words >> word;) {
    if (word == "OB") status.status_using_battery = true;
    if (word == "LB") status.status_battery_low = true;
    if (word == "TRIM" || word == "BOOST") regulates = true;
    if (word == "BYPASS") status.status_avr = true;
    if (word == "ALARM") status.status_ups_failed = true;
    if (word == "CAL") status.status_testing = true;
    if (word == "FSD") status.forced_shutdown = true;
  }
  const std::string& type = Value(vars, "ups.type");
  status.status_ups_is_line_interactive =
      regulates || type.find("line interactive") != std::string::npos;
  if (regulates) status.status_avr = true;
  status.status_beeper = Value(vars, "ups.beeper.status") == "enabled";
  status.beeper_flag_carried = false;
  return status;
}

ListVarAnswer::State ListVarAnswer::Line(const std::string& line) {
  if (state_ != State::Reading) return state_;
  const std::optional<std::vector<std::string>> args = SplitRequestLine(line);
  if (!args || args->empty()) return state_ = State::Failed;
  const std::vector<std::string>& a = *args;
  if (a[0] == "ERR") {
    error_ = a.size() > 1 ? a[1] : std::string("ERR");
    return state_ = State::Failed;
  }
  if (!begun_) {
    if (a.size() == 4 && a[0] == "BEGIN" && a[1] == "LIST" && a[2] == "VAR" && a[3] == ups_) {
      begun_ = true;
      return state_;
    }
    return state_ = State::Failed;
  }
  if (a.size() == 4 && a[0] == "END" && a[1] == "LIST" && a[2] == "VAR" && a[3] == ups_) {
    return state_ = State::Done;
  }
  if (a.size() == 4 && a[0] == "VAR" && a[1] == ups_) {
    if (vars_.size() >= 1000) return state_ = State::Failed;
    vars_[a[2]] = a[3];
    return state_;
  }
  return state_ = State::Failed;
}

// What is left of one exchange's time.
class NetworkUpsLink::Deadline {
 public:
  explicit Deadline(int ms) : ms_(ms) { timer_.start(); }
  int Left() const { return std::max<int>(0, ms_ - static_cast<int>(timer_.elapsed())); }

 private:
  QElapsedTimer timer_;
  int ms_;
};

NetworkUpsLink::NetworkUpsLink(Settings& settings, WallClock& clock)
    : settings_(settings), clock_(clock) {}

NetworkUpsLink::~NetworkUpsLink() {
  Drop();
}

void NetworkUpsLink::Drop() {
  if (socket_ != nullptr) socket_->abort();
  socket_.reset();
  buffer_.clear();
}

std::optional<QHostAddress> NetworkUpsLink::Address(const std::string& host) {
  QHostAddress address;
  if (address.setAddress(QString::fromStdString(host))) return address;
  const auto found = looked_up_.find(host);
  if (found != looked_up_.end() && !found->second.empty()) return found->second.front();
  if (!lookups_running_[host]) {
    lookups_running_[host] = true;
    QHostInfo::lookupHost(QString::fromStdString(host), nullptr,
                          [this, host, alive = std::weak_ptr<bool>(alive_)](const QHostInfo& info) {
                            if (alive.expired()) return;
                            lookups_running_[host] = false;
                            std::vector<QHostAddress> addresses;
                            for (const QHostAddress& a : info.addresses()) addresses.push_back(a);
                            looked_up_[host] = addresses;
                          });
  }
  return std::nullopt;
}

std::optional<std::string> NetworkUpsLink::ReadLine(Deadline& deadline) {
  while (true) {
    const size_t lf = buffer_.find('\n');
    if (lf != std::string::npos) {
      std::string line = buffer_.substr(0, lf);
      buffer_.erase(0, lf + 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      return line;
    }
    if (buffer_.size() > kMaxLine) return std::nullopt;
    if (socket_->bytesAvailable() == 0 && !socket_->waitForReadyRead(deadline.Left())) {
      return std::nullopt;
    }
    const QByteArray bytes = socket_->read(static_cast<qint64>(kMaxLine));
    if (bytes.isEmpty() && socket_->state() != QAbstractSocket::ConnectedState) return std::nullopt;
    buffer_.append(bytes.constData(), static_cast<size_t>(bytes.size()));
  }
}

std::optional<std::string> NetworkUpsLink::Ask(const std::string& request, Deadline& deadline) {
  socket_->write(request.data(), static_cast<qint64>(request.size()));
  if (!socket_->waitForBytesWritten(deadline.Left()) && socket_->bytesToWrite() > 0) {
    return std::nullopt;
  }
  return ReadLine(deadline);
}

bool NetworkUpsLink::Connect(const UpsServerSettings& server, Deadline& deadline) {
  if (socket_ != nullptr && socket_->state() == QAbstractSocket::ConnectedState &&
      connected_to_ == server) {
    return true;
  }
  Drop();
  const std::optional<QHostAddress> address = Address(server.host);
  if (!address || server.port <= 0 || server.port > 65535) return false;
  socket_ = std::make_unique<QTcpSocket>();
  socket_->connectToHost(*address, static_cast<quint16>(server.port));
  if (!socket_->waitForConnected(deadline.Left())) {
    Drop();
    return false;
  }
  connected_to_ = server;
  commands_denied_ = false;
  if (server.user.empty()) return true;
  const std::string user = "USERNAME " + QuotedValue(server.user) + "\n";
  const std::string password = "PASSWORD " + QuotedValue(server.password) + "\n";
  if (Ask(user, deadline) != "OK" || Ask(password, deadline) != "OK") {
    Drop();
    return false;
  }
  if (!server.watch_only && !released_) {
    // The primary counts this computer among those it waits for before it powers off.
    const std::optional<std::string> login =
        Ask("LOGIN " + QuotedValue(server.ups) + "\n", deadline);
    if (!login || *login != "OK") {
      Drop();
      return false;
    }
  }
  return true;
}

std::optional<ListVarAnswer> NetworkUpsLink::ListVariables(const UpsServerSettings& server,
                                                           Deadline& deadline) {
  const std::string request = "LIST VAR " + QuotedValue(server.ups) + "\n";
  socket_->write(request.data(), static_cast<qint64>(request.size()));
  ListVarAnswer answer(server.ups);
  size_t received = 0;
  while (answer.state() == ListVarAnswer::State::Reading) {
    const std::optional<std::string> line = ReadLine(deadline);
    received += line ? line->size() + 1 : 0;
    if (!line || received > kMaxAnswerBytes) {
      Drop();
      return std::nullopt;
    }
    answer.Line(*line);
  }
  // An error the server named (DATA-STALE: it has lost the UPS) keeps the connection for the
  // next poll; anything else that is not the protocol ends it.
  if (answer.state() != ListVarAnswer::State::Done && answer.Error().empty()) Drop();
  return answer;
}

bool NetworkUpsLink::QueryUPSStatus(TUPSStatus& status, TUPSStatusRaw& raw) {
  const UpsServerSettings server = ReadUpsServerSettings(settings_);
  Deadline deadline(kExchangeTimeoutMs);
  const bool kept = socket_ != nullptr && connected_to_ == server;
  if (!Connect(server, deadline)) return false;
  std::optional<ListVarAnswer> answer = ListVariables(server, deadline);
  // A kept connection that the server closed since the last poll (it started again, or its idle
  // limit passed) is tried once more on a new one, within the same bound.
  if (!answer && kept && Connect(server, deadline)) answer = ListVariables(server, deadline);
  if (!answer || answer->state() != ListVarAnswer::State::Done) return false;
  const std::optional<TUPSStatus> parsed = StatusFromVariables(answer->Variables());
  if (!parsed) return false;
  status = *parsed;
  last_beeper_ = status.status_beeper;
  raw = StatusToRaw(status, TimeStampFromLocalMilliseconds(clock_.LocalMillisecondsSinceEpoch()));
  return true;
}

bool NetworkUpsLink::InstantCommand(const std::string& name) {
  const UpsServerSettings server = ReadUpsServerSettings(settings_);
  if (server.user.empty()) return false;
  Deadline deadline(kExchangeTimeoutMs);
  if (!Connect(server, deadline)) return false;
  const std::optional<std::string> answer =
      Ask("INSTCMD " + QuotedValue(server.ups) + " " + name + "\n", deadline);
  if (!answer) {
    Drop();
    return false;
  }
  if (answer->starts_with("ERR ACCESS-DENIED")) commands_denied_ = true;
  return *answer == "OK";
}

bool NetworkUpsLink::PerformUPSTest() {
  return InstantCommand("test.battery.start.quick");
}

bool NetworkUpsLink::ToggleUPSBeeper() {
  return InstantCommand(last_beeper_ ? "beeper.disable" : "beeper.enable");
}

bool NetworkUpsLink::CommandsAllowed(std::string& hint) {
  if (settings_.ReadString(kSection, "ServerUser", "").empty()) {
    hint = "Команды UPS по сети требуют имени пользователя и пароля (Конфигурация, Сеть).";
    return false;
  }
  if (commands_denied_) {
    hint = "Сервер UPS не разрешает этому пользователю команды UPS.";
    return false;
  }
  hint.clear();
  return true;
}

void NetworkUpsLink::ReleaseBeforePowerOff() {
  // A poll made while the computer goes down must not log in again, or the primary would wait
  // for a computer that is already going.
  released_ = true;
  if (socket_ == nullptr || socket_->state() != QAbstractSocket::ConnectedState) return;
  Deadline deadline(kExchangeTimeoutMs);
  Ask("LOGOUT\n", deadline);
  Drop();
}

void NetworkUpsLink::ResumeAfterFailedPowerOff() {
  if (!released_) return;
  released_ = false;
  // The next poll connects again and logs in.
  Drop();
}

std::string NetworkUpsLink::ServerName() {
  const UpsServerSettings server = ReadUpsServerSettings(settings_);
  return server.ups + "@" + server.host + ":" + std::to_string(server.port);
}

UpsLink& LinkByPort::Stored() {
  return settings_.ReadString("Settings", "Port", "COM1") == kNetworkPortName ? network_ : cable_;
}

bool LinkByPort::QueryUPSStatus(TUPSStatus& status, TUPSStatusRaw& raw) {
  const std::string port = cable_.PortOverride();
  const bool network = port.empty()
                           ? settings_.ReadString("Settings", "Port", "COM1") == kNetworkPortName
                           : port == kNetworkPortName;
  return network ? network_.QueryUPSStatus(status, raw) : cable_.QueryUPSStatus(status, raw);
}

void LinkByPort::SetPortOverride(const std::string& port_name) {
  cable_.SetPortOverride(port_name);
  network_.SetPortOverride(port_name);
}

void LinkByPort::ReleaseBeforePowerOff() {
  cable_.ReleaseBeforePowerOff();
  network_.ReleaseBeforePowerOff();
}

void LinkByPort::ResumeAfterFailedPowerOff() {
  cable_.ResumeAfterFailedPowerOff();
  network_.ResumeAfterFailedPowerOff();
}

}  // namespace qelta
