#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

// A pseudo-terminal made by a test: the test writes the "UPS" side on the master, the code
// under test opens the terminal by its path. The test keeps one terminal fd of its own open, so
// the master side never sees a hang-up when the code under test closes its port.
class PtyPair {
 public:
  PtyPair() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) return;
    char name[256];
    if (::ptsname_r(master_, name, sizeof name) != 0) return;
    path_ = name;
    keeper_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  }
  ~PtyPair() {
    if (keeper_ >= 0) ::close(keeper_);
    if (master_ >= 0) ::close(master_);
  }
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  bool Ok() const { return master_ >= 0 && keeper_ >= 0 && !path_.empty(); }
  const std::string& Path() const { return path_; }

  // Writes as the UPS would.
  bool Send(const std::string& bytes) {
    return ::write(master_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  }

  // Closes the UPS side: the terminal sees a hang-up.
  void HangUp() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
  }

  // What the code under test wrote, waiting at most `timeout_ms` for the first byte.
  std::string Received(int timeout_ms) {
    std::string text;
    pollfd p{master_, POLLIN, 0};
    while (::poll(&p, 1, text.empty() ? timeout_ms : 50) > 0) {
      char buffer[256];
      const ssize_t n = ::read(master_, buffer, sizeof buffer);
      if (n <= 0) break;
      text.append(buffer, static_cast<size_t>(n));
    }
    return text;
  }

 private:
  int master_ = -1;
  int keeper_ = -1;
  std::string path_;
};
