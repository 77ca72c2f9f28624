#include "platform/instance_channel.h"

#include <unistd.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>

namespace qelta {
namespace {

constexpr char kCloseRequest[] = "close\n";

QString RuntimeFolder() {
  QString folder = qEnvironmentVariable("XDG_RUNTIME_DIR");
  if (folder.isEmpty() || !QDir(folder).exists()) {
    folder = QDir::tempPath() + QStringLiteral("/qelta-") + QString::number(getuid());
    QDir().mkpath(folder);
  }
  return folder;
}

}  // namespace

InstanceChannel::InstanceChannel(QObject* parent) : QObject(parent) {}

InstanceChannel::~InstanceChannel() {
  if (server_ != nullptr) server_->close();
}

QString InstanceChannel::SocketPath(const QString& title) {
  return RuntimeFolder() + QLatin1Char('/') + title;
}

bool InstanceChannel::CloseRunning(const QString& title, int max_wait_ms) {
  const QString path = SocketPath(title);
  QDeadlineTimer deadline(max_wait_ms);
  bool asked_any = false;
  while (!deadline.hasExpired()) {
    QLocalSocket socket;
    socket.connectToServer(path);
    if (!socket.waitForConnected(qMin<qint64>(500, qMax<qint64>(1, deadline.remainingTime())))) {
      const auto error = socket.error();
      // Nobody listens (no socket, or one left by a process that died): done.
      if (error == QLocalSocket::ServerNotFoundError ||
          error == QLocalSocket::ConnectionRefusedError) {
        break;
      }
      continue;  // busy or slow to accept: try again until the deadline
    }
    asked_any = true;
    socket.write(kCloseRequest);
    socket.flush();
    socket.waitForBytesWritten(qMax<qint64>(1, deadline.remainingTime()));
    // The old process closes the connection when it ends.
    while (socket.state() != QLocalSocket::UnconnectedState && !deadline.hasExpired()) {
      socket.waitForDisconnected(qMin<qint64>(200, qMax<qint64>(1, deadline.remainingTime())));
    }
  }
  return asked_any;
}

bool InstanceChannel::Listen(const QString& title, std::function<void()> on_close) {
  on_close_ = std::move(on_close);
  if (server_ == nullptr) server_ = new QLocalServer(this);
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  const QString path = SocketPath(title);
  if (!server_->listen(path)) {
    // A socket file left by a process that died: nobody answers there, so replace it.
    QLocalSocket probe;
    probe.connectToServer(path);
    if (probe.waitForConnected(200)) return false;  // someone really listens
    QLocalServer::removeServer(path);
    if (!server_->listen(path)) return false;
  }
  connect(server_, &QLocalServer::newConnection, this, [this] {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
      connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
      connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
        while (socket->canReadLine()) {
          if (socket->readLine() == kCloseRequest && on_close_) on_close_();
        }
      });
    }
  });
  return true;
}

}  // namespace qelta
