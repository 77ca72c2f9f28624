#include "network/network_server.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

namespace qelta {
namespace {

// Read at most this much of a client's bytes at a time.
constexpr qint64 kReadChunk = 4096;
// How often connections are looked at for the idle limit while there are any.
constexpr int kIdleCheckMs = 1000;
// How long the last answer of a closing connection may take to leave.
constexpr int kGoodbyeMs = 10000;

}  // namespace

NetworkServer::NetworkServer(ProtocolServer& protocol, TimerFactory& timers,
                             std::function<ListenConfig()> listen_config, Report report)
    : protocol_(protocol),
      listen_config_(std::move(listen_config)),
      report_(std::move(report)),
      timers_(timers) {
  last_tick_ = timers_.TickCount();
  idle_timer_ = timers_.CreateTimer(kIdleCheckMs, false);
  idle_timer_->SetHandler([this] { CheckIdle(); });
}

NetworkServer::~NetworkServer() {
  StopListening();
  for (auto& [id, socket] : sockets_) {
    socket->disconnect(this);
    socket->abort();
    delete socket;
  }
}

int64_t NetworkServer::NowMs() {
  const uint32_t tick = timers_.TickCount();
  elapsed_ms_ += static_cast<uint32_t>(tick - last_tick_);
  last_tick_ = tick;
  return elapsed_ms_;
}

void NetworkServer::StopListening() {
  for (QTcpServer* listener : listeners_) {
    listener->close();
    delete listener;
  }
  listeners_.clear();
}

void NetworkServer::Apply() {
  const ListenConfig config = listen_config_();
  if (applied_ != nullptr && *applied_ == config) return;
  applied_ = std::make_unique<ListenConfig>(config);
  StopListening();
  if (!config.serve) return;
  if (config.port <= 0 || config.port > 65535) {
    report_("Порт " + std::to_string(config.port) + " не годится для сервера UPS.");
    return;
  }
  for (const std::string& text : config.addresses) {
    QHostAddress address;
    if (text == "localhost") {
      address = QHostAddress(QHostAddress::LocalHost);
    } else if (!address.setAddress(QString::fromStdString(text))) {
      const std::string message = "Адрес " + text + " не годится для сервера UPS.";
      if (reported_.insert(message).second) report_(message);
      continue;
    }
    auto* listener = new QTcpServer();
    listener->setMaxPendingConnections(64);
    if (!listener->listen(address, static_cast<quint16>(config.port))) {
      // Reported once; the monitor goes on without this address.
      const std::string message = "Сервер UPS не слушает " + text + ":" +
                                  std::to_string(config.port) + ": " +
                                  listener->errorString().toStdString();
      if (reported_.insert(message).second) report_(message);
      delete listener;
      continue;
    }
    connect(listener, &QTcpServer::newConnection, this, [this, listener] { Accept(listener); });
    listeners_.push_back(listener);
  }
}

std::vector<std::string> NetworkServer::Listening() const {
  std::vector<std::string> out;
  for (const QTcpServer* listener : listeners_) {
    out.push_back(listener->serverAddress().toString().toStdString() + ":" +
                  std::to_string(listener->serverPort()));
  }
  return out;
}

void NetworkServer::Accept(QTcpServer* listener) {
  while (QTcpSocket* socket = listener->nextPendingConnection()) {
    const int id = next_id_++;
    const std::string address = socket->peerAddress().toString().toStdString();
    if (!protocol_.Open(id, address, NowMs())) {
      socket->abort();
      socket->deleteLater();
      continue;
    }
    socket->setParent(nullptr);
    socket->setReadBufferSize(kReadChunk);
    sockets_[id] = socket;
    connect(socket, &QTcpSocket::readyRead, this, [this, id] { Read(id); });
    connect(socket, &QTcpSocket::disconnected, this, [this, id] { Drop(id); });
    connect(socket, &QTcpSocket::errorOccurred, this, [this, id] { Drop(id); });
  }
  ArmIdleTimer();
}

void NetworkServer::Read(int id) {
  const auto found = sockets_.find(id);
  if (found == sockets_.end()) return;
  QTcpSocket* socket = found->second;
  char buffer[kReadChunk];
  while (socket->bytesAvailable() > 0) {
    const qint64 n = socket->read(buffer, sizeof buffer);
    if (n <= 0) break;
    const ProtocolServer::Answer answer =
        protocol_.Receive(id, std::string_view(buffer, static_cast<size_t>(n)), NowMs());
    if (!answer.bytes.empty()) {
      socket->write(answer.bytes.data(), static_cast<qint64>(answer.bytes.size()));
    }
    if (static_cast<size_t>(socket->bytesToWrite()) > protocol_.Limits().max_unsent) {
      Drop(id);  // a client that does not read its answers
      return;
    }
    if (answer.close) {
      // What is left to send goes out first; nothing more is read from this client.
      protocol_.Closed(id);
      sockets_.erase(id);
      socket->disconnect(this);
      connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
      // A client that never reads its goodbye does not keep the socket forever.
      QTimer::singleShot(kGoodbyeMs, socket, [socket] {
        socket->abort();
        socket->deleteLater();
      });
      socket->disconnectFromHost();
      return;
    }
  }
}

void NetworkServer::Drop(int id) {
  const auto found = sockets_.find(id);
  if (found == sockets_.end()) return;
  QTcpSocket* socket = found->second;
  sockets_.erase(found);
  protocol_.Closed(id);
  socket->disconnect(this);
  socket->abort();
  socket->deleteLater();
  ArmIdleTimer();
}

void NetworkServer::CheckIdle() {
  for (const int id : protocol_.IdleConnections(NowMs())) Drop(id);
  ArmIdleTimer();
}

void NetworkServer::ArmIdleTimer() {
  // Only while there are connections: an idle monitor does not wake for this.
  idle_timer_->SetEnabled(!sockets_.empty());
}

}  // namespace qelta
