#pragma once

#include <QObject>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "network/network_config.h"
#include "network/protocol_server.h"
#include "platform/timer.h"

class QTcpServer;
class QTcpSocket;

namespace qelta {

// The socket side of the UPS network protocol: TCP listeners on the configured addresses and
// one socket a client, all in the main event loop and never blocking it. Bytes go to and from
// ProtocolServer; the limits on connections, idle time and unsent data are applied here.
class NetworkServer : public QObject {
 public:
  // `report` tells the user (balloon and standard error) why the server could not listen.
  using Report = std::function<void(const std::string& message)>;

  NetworkServer(ProtocolServer& protocol, TimerFactory& timers,
                std::function<ListenConfig()> listen_config, Report report);
  ~NetworkServer() override;

  // Listens as the settings say; listening again only when they changed since the last call.
  void Apply();
  // The addresses listened on now, as "address:port".
  std::vector<std::string> Listening() const;

 private:
  void StopListening();
  void Accept(QTcpServer* listener);
  void Read(int id);
  void Drop(int id);
  void CheckIdle();
  void ArmIdleTimer();
  int64_t NowMs();

  ProtocolServer& protocol_;
  std::function<ListenConfig()> listen_config_;
  Report report_;
  std::unique_ptr<ListenConfig> applied_;
  std::vector<QTcpServer*> listeners_;
  std::map<int, QTcpSocket*> sockets_;
  std::set<std::string> reported_;
  std::unique_ptr<Timer> idle_timer_;
  TimerFactory& timers_;
  uint32_t last_tick_ = 0;
  int64_t elapsed_ms_ = 0;
  int next_id_ = 1;
};

}  // namespace qelta
