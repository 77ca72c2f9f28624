// Answer time and throughput of the UPS network protocol server, over real loopback sockets:
// the server in this process's event loop (one core, as in the monitor), with its users and
// UPS name read from a settings file at every batch of requests as the monitor does; a client
// in a second thread asks in lock-step (one request, wait for the answer) and then pipelined.
// Usage: bench_network_server [requests]   (default 5000)

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "link/modems.h"
#include "network/network_config.h"
#include "network/network_server.h"
#include "network/protocol_server.h"
#include "platform/qt_timer.h"
#include "settings/settings_store.h"

namespace {

using Clock = std::chrono::steady_clock;

class BenchUps : public qelta::ServedUps {
 public:
  qelta::TUPSStatus status =
      qelta::ParseStatusReply("(230.5 140.0 229.8 025 49.9 13.60 25.0 00001001\r");
  bool LinkOK() override { return true; }
  const qelta::TUPSStatus& LastStatus() override { return status; }
  uint32_t LastPollTime() override { return 1765212434; }
  bool RunInstantCommand(const std::string&) override { return true; }
};

int Connect(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return -1;
  return fd;
}

// Reads until `lines` answer lines (or, for a list, `lines` END lines) have come.
void ReadAnswers(int fd, int lines, bool lists, std::string& buffer) {
  int seen = 0;
  char chunk[65536];
  while (seen < lines) {
    const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
    if (n <= 0) return;
    buffer.append(chunk, static_cast<size_t>(n));
    size_t at = 0;
    for (size_t end; (end = buffer.find('\n', at)) != std::string::npos; at = end + 1) {
      if (!lists || buffer.compare(at, 4, "END ") == 0) ++seen;
    }
    buffer.erase(0, at);
  }
}

struct Figures {
  double median_us = 0;
  double p99_us = 0;
  double lockstep_per_s = 0;
  double pipelined_per_s = 0;
};

Figures Measure(int port, const std::string& request, bool list, int count) {
  Figures f;
  const int fd = Connect(port);
  std::string buffer;
  std::vector<double> times;
  const auto start = Clock::now();
  for (int i = 0; i < count; ++i) {
    const auto t0 = Clock::now();
    ::send(fd, request.data(), request.size(), 0);
    ReadAnswers(fd, 1, list, buffer);
    times.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
  }
  f.lockstep_per_s = count / std::chrono::duration<double>(Clock::now() - start).count();
  std::sort(times.begin(), times.end());
  f.median_us = times[times.size() / 2];
  f.p99_us = times[times.size() * 99 / 100];
  // Pipelined: batches of 100 requests in one send, as far as the 64 KiB unsent bound allows.
  const int batch = list ? 50 : 100;
  std::string many;
  for (int i = 0; i < batch; ++i) many += request;
  const auto piped = Clock::now();
  int done = 0;
  for (; done + batch <= count; done += batch) {
    ::send(fd, many.data(), many.size(), 0);
    ReadAnswers(fd, batch, list, buffer);
  }
  f.pipelined_per_s = done / std::chrono::duration<double>(Clock::now() - piped).count();
  ::close(fd);
  return f;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const int count = argc > 1 ? std::max(200, std::atoi(argv[1])) : 5000;
  QTemporaryDir folder;
  qelta::SettingsStore store(folder.path().toStdString());
  store.WriteString(qelta::kNetworkSection, "Listen", "127.0.0.1");
  store.WriteInteger(qelta::kNetworkSection, "Port", 0);  // replaced below by a free port
  qelta::WriteNetworkUser(store, {"mon", "pw", true, false});

  // A free port: bind to 0 and read it back.
  const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address);
  ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
  const int port = ntohs(address.sin_port);
  ::close(probe);
  store.WriteInteger(qelta::kNetworkSection, "Port", port);

  BenchUps ups;
  qelta::QtTimerFactory timers;
  qelta::ProtocolServer protocol(ups, [&] { return qelta::ReadServedConfig(store); });
  qelta::NetworkServer server(
      protocol, timers, [&] { return qelta::ReadListenConfig(store); },
      [](const std::string& message) { std::fprintf(stderr, "%s\n", message.c_str()); });
  server.Apply();
  if (server.Listening().empty()) return 1;

  std::thread client([&] {
    const Figures get = Measure(port, "GET VAR qelta ups.status\n", false, count);
    const Figures list = Measure(port, "LIST VAR qelta\n", true, count);
    std::printf("network_server: %d requests each, over loopback, server on one core\n", count);
    std::printf(
        "  GET VAR ups.status: answer median %.1f us, p99 %.1f us; %.0f requests/s in "
        "lock-step, %.0f requests/s pipelined\n",
        get.median_us, get.p99_us, get.lockstep_per_s, get.pipelined_per_s);
    std::printf(
        "  LIST VAR (19 variables): answer median %.1f us, p99 %.1f us; %.0f requests/s "
        "in lock-step, %.0f requests/s pipelined\n",
        list.median_us, list.p99_us, list.lockstep_per_s, list.pipelined_per_s);
    QMetaObject::invokeMethod(
        &app, [] { QCoreApplication::quit(); }, Qt::QueuedConnection);
  });
  app.exec();
  client.join();
  return 0;
}
