#pragma once

// Starts qelta-upssim as a child process and talks to its control console; for tests and
// benchmarks. Header-only so that any test or benchmark program can include it.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

namespace qelta::upssim {

class SimulatorProcess {
 public:
  SimulatorProcess() = default;
  SimulatorProcess(const SimulatorProcess&) = delete;
  SimulatorProcess& operator=(const SimulatorProcess&) = delete;
  ~SimulatorProcess() { Stop(); }

  // Starts `binary` with `args` and waits for the terminal path on its first line.
  bool Start(const std::string& binary, const std::vector<std::string>& args) {
    int in[2];
    int out[2];
    if (::pipe2(in, O_CLOEXEC) != 0) return false;
    if (::pipe2(out, O_CLOEXEC) != 0) {
      ::close(in[0]);
      ::close(in[1]);
      return false;
    }
    std::vector<std::string> argv_text{binary};
    argv_text.insert(argv_text.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : argv_text) argv.push_back(a.data());
    argv.push_back(nullptr);
    const pid_t parent = ::getpid();
    pid_ = ::fork();
    if (pid_ == 0) {
      // The simulator must not outlive the test program, even when that one crashes.
      ::prctl(PR_SET_PDEATHSIG, SIGTERM);
      if (::getppid() != parent) ::_exit(127);
      ::dup2(in[0], STDIN_FILENO);
      ::dup2(out[1], STDOUT_FILENO);
      ::execv(binary.c_str(), argv.data());
      ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    to_ = in[1];
    from_ = out[0];
    if (pid_ < 0) {
      Stop();
      return false;
    }
    path_ = ReadLine(10000);
    if (path_.empty()) {
      Stop();
      return false;
    }
    return true;
  }

  // The terminal path the simulator printed.
  const std::string& Path() const { return path_; }

  // Sends one control command and returns the line it answered ("ok", "error: ...", or the
  // state for "print"); empty when no answer came within `timeout_ms`.
  std::string Command(const std::string& command, int timeout_ms = 10000) {
    const std::string text = command + "\n";
    if (to_ < 0 || ::write(to_, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
      return std::string();
    }
    return ReadLine(timeout_ms);
  }

  void Stop() {
    if (to_ >= 0) ::close(to_);
    if (from_ >= 0) ::close(from_);
    to_ = from_ = -1;
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      int status = 0;
      ::waitpid(pid_, &status, 0);
    }
    pid_ = -1;
  }

 private:
  std::string ReadLine(int timeout_ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
      if (const size_t end = buffer_.find('\n'); end != std::string::npos) {
        std::string line = buffer_.substr(0, end);
        buffer_.erase(0, end + 1);
        return line;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0 || from_ < 0) return std::string();
      pollfd p{from_, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
      char chunk[256];
      const ssize_t n = ::read(from_, chunk, sizeof chunk);
      if (n <= 0) return std::string();
      buffer_.append(chunk, static_cast<size_t>(n));
    }
  }

  pid_t pid_ = -1;
  int to_ = -1;
  int from_ = -1;
  std::string path_;
  std::string buffer_;
};

}  // namespace qelta::upssim
