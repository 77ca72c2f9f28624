// The monitor's idle cost: runs the real program for a while against the simulated UPS
// (polling every 3 seconds, as installed) and prints the CPU seconds it used and its peak
// resident memory.
//
//   bench_idle_cost [seconds]      (default 60)
//
// It needs Xvfb for a real display; without it the monitor runs offscreen.
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "tools/upssim/simulator_process.h"

namespace fs = std::filesystem;

namespace {

pid_t Spawn(const std::vector<std::string>& argv) {
  const pid_t pid = fork();
  if (pid == 0) {
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  return pid;
}

}  // namespace

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? atoi(argv[1]) : 60;
  const std::string bin = QELTA_BIN_DIR;

  char pattern[] = "/tmp/qelta-idle-XXXXXX";
  const std::string dir = mkdtemp(pattern);
  fs::copy_file(bin + "/qelta-monitor", dir + "/qelta-monitor");
  fs::create_directories(dir + "/config/QELTA/QELTA MONITOR");
  fs::create_directories(dir + "/runtime");
  chmod((dir + "/runtime").c_str(), 0700);

  qelta::upssim::SimulatorProcess simulator;
  if (!simulator.Start(bin + "/qelta-upssim", {})) {
    std::fprintf(stderr, "the simulator did not start\n");
    return 1;
  }
  std::ofstream(dir + "/config/QELTA/QELTA MONITOR/1.0.ini")
      << "[Settings]\nInstalled=1\nVersion=0.99.6\nPort=COM1\nInterval=3\n[Ports]\nCOM1="
      << simulator.Path() << "\n";

  pid_t xvfb = -1;
  std::string display = ":" + std::to_string(300 + getpid() % 500);
  if (fs::exists("/usr/bin/Xvfb")) {
    xvfb = Spawn({"/usr/bin/Xvfb", display, "-nolisten", "tcp"});
    for (int i = 0; i < 100 && !fs::exists("/tmp/.X11-unix/X" + display.substr(1)); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  }

  const pid_t monitor = fork();
  if (monitor == 0) {
    setenv("XDG_CONFIG_HOME", (dir + "/config").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", (dir + "/runtime").c_str(), 1);
    setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + dir + "/none").c_str(), 1);
    setenv("DBUS_SYSTEM_BUS_ADDRESS", ("unix:path=" + dir + "/none").c_str(), 1);
    if (xvfb > 0) {
      setenv("DISPLAY", display.c_str(), 1);
      setenv("QT_QPA_PLATFORM", "xcb", 1);
    } else {
      setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    if (chdir(dir.c_str()) != 0) _exit(127);
    const std::string exe = dir + "/qelta-monitor";
    execl(exe.c_str(), exe.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }

  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  kill(monitor, SIGTERM);
  int status = 0;
  rusage usage{};
  wait4(monitor, &status, 0, &usage);
  if (xvfb > 0) {
    kill(xvfb, SIGTERM);
    waitpid(xvfb, nullptr, 0);
  }

  const auto stats_size =
      fs::exists(dir + "/qelta-monitor.stats") ? fs::file_size(dir + "/qelta-monitor.stats") : 0;
  const double cpu = usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec +
                     usage.ru_stime.tv_usec / 1e6;
  std::printf("display:              %s\n", xvfb > 0 ? "Xvfb" : "offscreen");
  std::printf("monitored for:        %d s (polling every 3 s)\n", seconds);
  std::printf("samples recorded:     %llu\n", static_cast<unsigned long long>(stats_size / 112));
  std::printf("CPU used:             %.3f s (user %.3f, system %.3f), %.3f %% of one core\n", cpu,
              usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6,
              usage.ru_stime.tv_sec + usage.ru_stime.tv_usec / 1e6, 100.0 * cpu / seconds);
  std::printf("peak resident memory: %.1f MB\n", usage.ru_maxrss / 1024.0);
  fs::remove_all(dir);
  return 0;
}
