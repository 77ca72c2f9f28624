#pragma once

#include <string>

namespace qelta::testing {

// The output (standard output and error) and exit code of a shell command.
struct CommandResult {
  int code = -1;
  std::string output;
};
CommandResult RunCommand(const std::string& command);

// A loopback TCP port that nobody listens on right now.
int FreeLoopbackPort();

// A hand-made protocol client on 127.0.0.1, for what the real clients cannot do on purpose
// (log in and then never log out, flood, never read).
class RawClient {
 public:
  explicit RawClient(int port);
  ~RawClient();
  RawClient(const RawClient&) = delete;
  RawClient& operator=(const RawClient&) = delete;
  bool connected() const { return fd_ >= 0; }
  // Sends the bytes; false when the connection is gone.
  bool Send(const std::string& bytes);
  // Sends what the socket takes without waiting; the count sent, -1 once the connection is gone.
  long SendSome(const std::string& bytes);
  // Reads one answer line (without the LF), waiting at most `timeout_ms`; empty on failure.
  std::string ReadLine(int timeout_ms = 5000);
  // True once the server has closed the connection (read gives end of file or an error).
  bool ClosedByServer(int timeout_ms);

 private:
  int fd_ = -1;
  std::string buffer_;
};

}  // namespace qelta::testing
