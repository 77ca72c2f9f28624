#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "link/status_records.h"

namespace qelta::testing {

// A child process started with its own environment; killed when the object goes.
class ChildProcess {
 public:
  ChildProcess() = default;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess();

  // Starts `argv` in `dir` with the current environment plus `env`; its stdin is a pipe the
  // test writes to, its stdout a pipe the test reads from (when `capture_stdout`).
  bool Start(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
             const std::string& dir = "", bool capture_stdout = false);
  // Reads one line of the child's stdout, waiting at most `timeout`.
  std::string ReadLine(std::chrono::milliseconds timeout);
  void WriteLine(const std::string& line);
  // Waits for the child to end; true when it ended, with its exit code in `code`.
  bool Wait(std::chrono::milliseconds timeout, int* code = nullptr);
  bool Running();
  void Kill(int signal);
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
  int stdin_fd_ = -1;
  int stdout_fd_ = -1;
  std::string buffer_;
  bool reaped_ = false;
};

// Waits until `condition` holds or `timeout` passes; true when it held.
bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout);

// A private X server (Xvfb) for the test's programs.
class VirtualDisplay {
 public:
  VirtualDisplay();
  const std::string& name() const { return name_; }
  bool ok() const { return ok_; }

 private:
  ChildProcess server_;
  std::string name_;
  bool ok_ = false;
};

// Starts one private X server before a test program's first test and stops it after the last;
// `slot` points at it meanwhile. Register it with ::testing::AddGlobalTestEnvironment.
class DisplayEnvironment : public ::testing::Environment {
 public:
  explicit DisplayEnvironment(VirtualDisplay*& slot) : slot_(slot) {}
  void SetUp() override { slot_ = new VirtualDisplay(); }
  void TearDown() override {
    delete slot_;
    slot_ = nullptr;
  }

 private:
  VirtualDisplay*& slot_;
};

// A private folder holding a copy of the monitor (so its statistics file lands there), its
// settings folder seeded as installed, and its runtime folder.
class MonitorSandbox {
 public:
  MonitorSandbox();
  ~MonitorSandbox();
  const std::string& dir() const { return dir_; }
  std::string StatsPath() const { return dir_ + "/qelta-monitor.stats"; }
  std::string SettingsPath() const;
  // Writes the settings file: installed, the given polling interval, COM1 on `device`; the
  // network server off unless `extra` has a [Network] section.
  void SeedSettings(const std::string& device, int interval_seconds, const std::string& extra = "");
  // The environment for a monitor in this sandbox on `display`.
  std::map<std::string, std::string> Environment(const std::string& display) const;
  std::vector<std::string> MonitorCommand() const { return {dir_ + "/qelta-monitor"}; }
  TUPSStatusRawData ReadStats() const;

 private:
  std::string dir_;
};

// Starts the simulated UPS and returns its terminal's path (empty on failure).
std::string StartSimulator(ChildProcess& simulator, const std::vector<std::string>& options = {});

}  // namespace qelta::testing
