#pragma once

#include <QObject>
#include <QString>
#include <functional>

class QLocalServer;

namespace qelta {

// Process identity by name: a local socket named after a window title, in the user's runtime
// folder. A running monitor listens under its title; a new one asks it to close and waits until
// nobody answers under that name any more.
class InstanceChannel : public QObject {
  Q_OBJECT

 public:
  explicit InstanceChannel(QObject* parent = nullptr);
  ~InstanceChannel() override;

  // The socket path for a title ($XDG_RUNTIME_DIR, else a per-user folder under /tmp).
  static QString SocketPath(const QString& title);

  // Sends the close request to every process listening under `title`, one after the other,
  // and waits until none is left or `max_wait_ms` has passed. A socket left behind by a
  // process that died answers nobody and does not count. True when any process was asked.
  static bool CloseRunning(const QString& title, int max_wait_ms);

  // Listens under `title`; each close request calls `on_close`. A stale socket of a dead
  // process is replaced. False when listening fails.
  bool Listen(const QString& title, std::function<void()> on_close);

 private:
  QLocalServer* server_ = nullptr;
  std::function<void()> on_close_;
};

}  // namespace qelta
