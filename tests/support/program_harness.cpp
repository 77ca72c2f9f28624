#include "program_harness.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

namespace qelta::testing {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

ChildProcess::~ChildProcess() {
  if (pid_ > 0 && !reaped_) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  if (stdin_fd_ >= 0) close(stdin_fd_);
  if (stdout_fd_ >= 0) close(stdout_fd_);
}

bool ChildProcess::Start(const std::vector<std::string>& argv,
                         const std::map<std::string, std::string>& env, const std::string& dir,
                         bool capture_stdout) {
  int in[2];
  int out[2] = {-1, -1};
  if (pipe2(in, O_CLOEXEC) != 0) return false;
  if (capture_stdout && pipe2(out, O_CLOEXEC) != 0) return false;
  pid_ = fork();
  if (pid_ < 0) return false;
  if (pid_ == 0) {
    dup2(in[0], 0);
    if (capture_stdout) dup2(out[1], 1);
    for (const auto& [key, value] : env) setenv(key.c_str(), value.c_str(), 1);
    if (!dir.empty() && chdir(dir.c_str()) != 0) _exit(127);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  close(in[0]);
  stdin_fd_ = in[1];
  if (capture_stdout) {
    close(out[1]);
    stdout_fd_ = out[0];
  }
  return true;
}

std::string ChildProcess::ReadLine(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    const auto newline = buffer_.find('\n');
    if (newline != std::string::npos) {
      std::string line = buffer_.substr(0, newline);
      buffer_.erase(0, newline + 1);
      return line;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || stdout_fd_ < 0) return "";
    pollfd p{stdout_fd_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left.count())) <= 0) return "";
    char chunk[256];
    const ssize_t n = read(stdout_fd_, chunk, sizeof chunk);
    if (n <= 0) return "";
    buffer_.append(chunk, static_cast<size_t>(n));
  }
}

void ChildProcess::WriteLine(const std::string& line) {
  const std::string text = line + "\n";
  if (stdin_fd_ >= 0 && write(stdin_fd_, text.data(), text.size()) < 0) {
    std::perror("write to child");
  }
}

bool ChildProcess::Wait(std::chrono::milliseconds timeout, int* code) {
  if (pid_ <= 0) return true;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!reaped_) {
    int status = 0;
    const pid_t r = waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
      reaped_ = true;
      if (code != nullptr) *code = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
      break;
    }
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(20ms);
  }
  return true;
}

bool ChildProcess::Running() {
  return pid_ > 0 && !Wait(0ms);
}

void ChildProcess::Kill(int signal) {
  if (pid_ > 0 && !reaped_) kill(pid_, signal);
}

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(50ms);
  }
  return true;
}

VirtualDisplay::VirtualDisplay() {
  // A display number of our own: the first free one from a number derived from the pid.
  for (int attempt = 0; attempt < 50 && !ok_; ++attempt) {
    const int number = 100 + (getpid() + attempt * 7) % 800;
    const std::string socket = "/tmp/.X11-unix/X" + std::to_string(number);
    const std::string lock = "/tmp/.X" + std::to_string(number) + "-lock";
    if (fs::exists(socket) || fs::exists(lock)) continue;
    name_ = ":" + std::to_string(number);
    if (!server_.Start({"/usr/bin/Xvfb", name_, "-nolisten", "tcp", "-screen", "0", "1280x1024x24"},
                       {})) {
      return;
    }
    ok_ =
        WaitFor([&] { return fs::exists(socket) || !server_.Running(); }, 10s) && server_.Running();
  }
}

MonitorSandbox::MonitorSandbox() {
  char pattern[] = "/tmp/qelta-program-XXXXXX";
  dir_ = mkdtemp(pattern);
  fs::copy_file(std::string(QELTA_BIN_DIR) + "/qelta-monitor", dir_ + "/qelta-monitor");
  fs::create_directories(dir_ + "/config/QELTA/QELTA MONITOR");
  fs::create_directories(dir_ + "/runtime");
  fs::permissions(dir_ + "/runtime", fs::perms::owner_all);
}

MonitorSandbox::~MonitorSandbox() {
  std::error_code ignored;
  fs::remove_all(dir_, ignored);
}

std::string MonitorSandbox::SettingsPath() const {
  return dir_ + "/config/QELTA/QELTA MONITOR/1.0.ini";
}

void MonitorSandbox::SeedSettings(const std::string& device, int interval_seconds,
                                  const std::string& extra) {
  std::ofstream ini(SettingsPath(), std::ios::trunc);
  ini << "[Settings]\nInstalled=1\nVersion=0.99.6\nPort=COM1\nInterval=" << interval_seconds << "\n"
      << extra << "\n[Ports]\nCOM1=" << device << "\n";
  // A test monitor never serves on the machine's UPS port unless the test asks for a server.
  if (extra.find("[Network]") == std::string::npos) ini << "[Network]\nServe=0\n";
}

std::map<std::string, std::string> MonitorSandbox::Environment(const std::string& display) const {
  return {
      {"DISPLAY", display},
      {"QT_QPA_PLATFORM", "xcb"},
      {"XDG_CONFIG_HOME", dir_ + "/config"},
      {"XDG_DATA_HOME", dir_ + "/data"},
      {"XDG_RUNTIME_DIR", dir_ + "/runtime"},
      // No bus of the machine is ever reached: balloons fall back to the tray, and the
      // power-off path finds no logind.
      {"DBUS_SESSION_BUS_ADDRESS", "unix:path=" + dir_ + "/no-session-bus"},
      {"DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + dir_ + "/no-system-bus"},
  };
}

TUPSStatusRawData MonitorSandbox::ReadStats() const {
  std::ifstream file(StatsPath(), std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  TUPSStatusRawData records;
  for (size_t at = 0; at + kStatusRawSize <= bytes.size(); at += kStatusRawSize) {
    records.push_back(DecodeStatusRaw(reinterpret_cast<const uint8_t*>(bytes.data() + at)));
  }
  return records;
}

std::string StartSimulator(ChildProcess& simulator, const std::vector<std::string>& options) {
  std::vector<std::string> argv{std::string(QELTA_BIN_DIR) + "/qelta-upssim"};
  argv.insert(argv.end(), options.begin(), options.end());
  if (!simulator.Start(argv, {}, "", true)) return "";
  return simulator.ReadLine(10s);
}

}  // namespace qelta::testing
