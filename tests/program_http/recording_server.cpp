#include "recording_server.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>

namespace qelta::testing {

namespace {

// More than any report; a client that sends more is not what the tests expect anyway.
constexpr size_t kMaxConnectionBytes = 64 * 1024;

std::string Errno(const char* what) {
  return std::string(what) + ": " + std::strerror(errno);
}

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

void SendAll(int fd, const std::string& bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      pollfd p{fd, POLLOUT, 0};
      poll(&p, 1, 1000);
      continue;
    }
    if (n <= 0) return;
    sent += static_cast<size_t>(n);
  }
}

}  // namespace

bool EnterPrivateNetwork(std::string* why) {
  if (unshare(CLONE_NEWNET) != 0) {
    *why = Errno("unshare(CLONE_NEWNET)");
    return false;
  }
  // A new namespace has its loopback interface down; bringing it up gives it 127.0.0.1/8.
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    *why = Errno("socket");
    return false;
  }
  ifreq request{};
  std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
  bool ok = ioctl(fd, SIOCGIFFLAGS, &request) == 0;
  if (ok) {
    request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP);
    ok = ioctl(fd, SIOCSIFFLAGS, &request) == 0;
  }
  if (!ok) *why = Errno("bringing up lo");
  close(fd);
  return ok;
}

RecordingServer::~RecordingServer() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  for (const Open& open : open_) close(open.fd);
  if (listen_fd_ >= 0) close(listen_fd_);
}

bool RecordingServer::Start(Mode mode, int port, std::string* why) {
  mode_ = mode;
  listen_fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (listen_fd_ < 0) {
    *why = Errno("socket");
    return false;
  }
  const int yes = 1;
  setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(listen_fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    *why = Errno(("bind 127.0.0.1:" + std::to_string(port)).c_str());
    return false;
  }
  if (listen(listen_fd_, 16) != 0) {
    *why = Errno("listen");
    return false;
  }
  thread_ = std::thread([this] { Run(); });
  return true;
}

std::vector<RecordingServer::Connection> RecordingServer::Connections() const {
  std::lock_guard lock(mutex_);
  return connections_;
}

size_t RecordingServer::Count() const {
  std::lock_guard lock(mutex_);
  return connections_.size();
}

void RecordingServer::Run() {
  while (!stop_) {
    std::vector<pollfd> fds{{listen_fd_, POLLIN, 0}};
    {
      std::lock_guard lock(mutex_);
      for (const Open& open : open_) {
        const bool flooding = mode_ == Mode::kFlood && connections_[open.index].answered;
        fds.push_back({open.fd, static_cast<short>(POLLIN | (flooding ? POLLOUT : 0)), 0});
      }
    }
    if (poll(fds.data(), fds.size(), 50) <= 0) continue;

    if (fds[0].revents & POLLIN) {
      const int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
      if (fd >= 0) {
        std::lock_guard lock(mutex_);
        Connection connection;
        connection.accepted = std::chrono::steady_clock::now();
        connections_.push_back(connection);
        open_.push_back({fd, connections_.size() - 1});
      }
    }
    // Only the connections that were polled; one accepted above waits for the next round.
    std::vector<Open> still_open;
    for (size_t i = 1; i < fds.size(); ++i) {
      Open& open = open_[i - 1];
      bool keep = true;
      if (fds[i].revents & POLLOUT) keep = Flood(open);
      if (keep && (fds[i].revents & ~POLLOUT) != 0) keep = Serve(open);
      if (keep) {
        still_open.push_back(open);
      } else {
        close(open.fd);
      }
    }
    for (size_t i = fds.size() - 1; i < open_.size(); ++i) still_open.push_back(open_[i]);
    open_ = std::move(still_open);
  }
}

bool RecordingServer::Serve(Open& open) {
  char chunk[4096];
  const ssize_t n = recv(open.fd, chunk, sizeof chunk, 0);
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return true;
  std::lock_guard lock(mutex_);
  Connection& connection = connections_[open.index];
  if (n <= 0) {
    connection.closed_by_client = true;
    connection.closed = std::chrono::steady_clock::now();
    return false;
  }
  if (connection.bytes.size() < kMaxConnectionBytes) {
    connection.bytes.append(chunk, static_cast<size_t>(n));
  }
  if (mode_ == Mode::kHold || connection.answered) return true;
  if (!ParseHttpRequest(connection.bytes).complete) return true;
  if (mode_ == Mode::kFlood) {
    connection.answered = true;  // the flood goes out as the socket takes it
    return true;
  }
  SendAll(open.fd, std::string("HTTP/1.0 200 OK\r\n"
                               "Content-Type: text/html\r\n"
                               "Set-Cookie: ") +
                       kCookie +
                       "; path=/\r\n"
                       "Content-Length: 2\r\n"
                       "\r\n"
                       "ok");
  connection.answered = true;
  return false;
}

bool RecordingServer::Flood(Open& open) {
  static const std::string block = [] {
    std::string interim;
    for (int i = 0; i < 1000; ++i) interim += "HTTP/1.1 100 Continue\r\n\r\n";
    return interim;
  }();
  const ssize_t n = send(open.fd, block.data(), block.size(), MSG_NOSIGNAL);
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return true;
  std::lock_guard lock(mutex_);
  Connection& connection = connections_[open.index];
  if (n < 0) {
    // Reset by the client: it has stopped listening.
    connection.closed_by_client = true;
    connection.closed = std::chrono::steady_clock::now();
    return false;
  }
  connection.flooded += static_cast<size_t>(n);
  return true;
}

HttpRequest ParseHttpRequest(const std::string& bytes) {
  HttpRequest request;
  const size_t head_end = bytes.find("\r\n\r\n");
  const std::string head = bytes.substr(0, head_end);
  size_t at = 0;
  for (bool first = true; at <= head.size(); first = false) {
    size_t end = head.find("\r\n", at);
    if (end == std::string::npos) end = head.size();
    const std::string line = head.substr(at, end - at);
    if (first) {
      request.request_line = line;
    } else {
      request.headers.push_back(line);
    }
    at = end + 2;
  }
  if (head_end == std::string::npos) return request;
  request.body = bytes.substr(head_end + 4);
  size_t length = 0;
  bool has_length = false;
  for (const std::string& header : request.headers) {
    const size_t colon = header.find(':');
    if (colon != std::string::npos && Lower(header.substr(0, colon)) == "content-length") {
      length = std::strtoul(header.c_str() + colon + 1, nullptr, 10);
      has_length = true;
    }
  }
  request.complete = has_length && request.body.size() >= length;
  return request;
}

std::vector<std::pair<std::string, std::string>> FormFields(const std::string& body) {
  std::vector<std::pair<std::string, std::string>> fields;
  size_t at = 0;
  while (at < body.size()) {
    size_t end = body.find('&', at);
    if (end == std::string::npos) end = body.size();
    const std::string pair = body.substr(at, end - at);
    const size_t equals = pair.find('=');
    if (equals == std::string::npos) {
      fields.emplace_back(pair, "");
    } else {
      fields.emplace_back(pair.substr(0, equals), pair.substr(equals + 1));
    }
    at = end + 1;
  }
  return fields;
}

std::string FormValue(const std::string& body, const std::string& name) {
  for (const auto& [key, value] : FormFields(body)) {
    if (key == name) return value;
  }
  return "<missing>";
}

}  // namespace qelta::testing
