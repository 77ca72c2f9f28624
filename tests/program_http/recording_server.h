#pragma once

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace qelta::testing {

// Moves the calling thread (and so every thread and child process it starts afterwards) into a
// network namespace of its own with only its loopback interface up: port 80 of 127.0.0.1 is
// free there whatever runs on the machine, and no packet can leave it. False (with the reason
// in `why`) when the system does not allow it; the caller stays where it was.
bool EnterPrivateNetwork(std::string* why);

// An HTTP server on 127.0.0.1 that records the raw bytes of every connection, on a thread of
// its own so that the test can wait while it serves.
class RecordingServer {
 public:
  enum class Mode {
    kAnswer,  // once the request is in: "HTTP/1.0 200 OK" (with a cookie), then close
    kHold,    // reads the request and never answers; the connection stays open
    kFlood,   // once the request is in: interim answers ("100 Continue") without end
  };

  struct Connection {
    std::string bytes;  // everything the client sent
    std::chrono::steady_clock::time_point accepted;
    bool answered = false;
    bool closed_by_client = false;  // the client ended the connection (seen as end of file)
    std::chrono::steady_clock::time_point closed;  // when that was seen
    size_t flooded = 0;                            // bytes of interim answers sent
  };

  // The cookie the answers set.
  static constexpr const char* kCookie = "qelta_session=a1b2c3";

  RecordingServer() = default;
  RecordingServer(const RecordingServer&) = delete;
  RecordingServer& operator=(const RecordingServer&) = delete;
  ~RecordingServer();

  // Listens on 127.0.0.1:`port`; false with the reason in `why` when it cannot.
  bool Start(Mode mode, int port, std::string* why);

  std::vector<Connection> Connections() const;
  size_t Count() const;

 private:
  struct Open {
    int fd;
    size_t index;  // into connections_
  };

  void Run();
  // Handles what arrived on one connection; false when the connection is done with.
  bool Serve(Open& open);
  // Sends more interim answers on a flooded connection; false when the client has gone.
  bool Flood(Open& open);

  int listen_fd_ = -1;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  mutable std::mutex mutex_;
  Mode mode_ = Mode::kAnswer;
  std::vector<Connection> connections_;
  std::vector<Open> open_;  // used by the server thread only
};

// One HTTP request taken apart: the request line, the header lines in order, the body.
struct HttpRequest {
  std::string request_line;
  std::vector<std::string> headers;
  std::string body;
  bool complete = false;  // the header block ended and the body has its Content-Length
};
HttpRequest ParseHttpRequest(const std::string& bytes);

// The body of a form post as name/value pairs in order, the values as they were sent (still
// encoded). A body that ends with "&" gives no empty last pair.
std::vector<std::pair<std::string, std::string>> FormFields(const std::string& body);
// The sent value of field `name`, or "<missing>".
std::string FormValue(const std::string& body, const std::string& name);

}  // namespace qelta::testing
