// The monitor's idle cost: runs the real program against the simulated UPS (polling every 3
// seconds, as installed) and prints, over a measuring window that starts once the program has
// settled, its wake-ups per second (the context switches of all its threads), the CPU it used
// as a share of one core, and its resident memory.
//
//   bench_idle_cost [seconds] [--bin DIR] [--only SCENARIO]
//
// `seconds` is the measuring window of each scenario (default 120). --bin takes the monitor
// and the simulator from another build's bin folder (to compare builds); --only runs one
// scenario. The scenarios:
//
//   mains-offscreen      on mains, pop-up hidden, reporting off, offscreen platform
//   mains-xvfb           the same under Xvfb, with no system tray on the display
//   battery-offscreen    on battery, offscreen (no tray there, so the pop-up cannot be shown)
//   battery-popup-xvfb   on battery under Xvfb with a system tray; the icon is clicked so that
//                        the pop-up is shown, and it stays shown (it is told not to hide when
//                        another window is active)
//   service-mains        `qelta-monitor --service` on mains: no display, no session bus,
//                        serving the UPS on a loopback port of its own
//
// The power-off after the battery warning is switched off in the settings, and the program
// reaches no system bus, so no scenario can power the machine off.
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/xembed_tray_host.h"
#include "tools/upssim/simulator_process.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

struct Scenario {
  const char* name;
  bool xvfb;
  bool battery;
  bool popup;
  bool service = false;
};

constexpr Scenario kScenarios[] = {
    {"mains-offscreen", false, false, false},     {"mains-xvfb", true, false, false},
    {"battery-offscreen", false, true, false},    {"battery-popup-xvfb", true, true, true},
    {"service-mains", false, false, false, true},
};

// One thread's counters as /proc shows them.
struct ThreadSample {
  std::string name;
  uint64_t switches = 0;  // voluntary + involuntary context switches
  uint64_t cpu_ns = 0;    // time on a CPU
};

std::string ReadText(const std::string& path) {
  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

uint64_t StatusField(const std::string& status, const std::string& field) {
  const size_t at = status.find(field + ":");
  if (at == std::string::npos) return 0;
  return std::strtoull(status.c_str() + at + field.size() + 1, nullptr, 10);
}

std::map<std::string, ThreadSample> SampleThreads(pid_t pid) {
  std::map<std::string, ThreadSample> threads;
  std::error_code error;
  const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
  for (const auto& entry : fs::directory_iterator(tasks, error)) {
    const std::string status = ReadText(entry.path().string() + "/status");
    if (status.empty()) continue;
    ThreadSample sample;
    const size_t name_at = status.find("Name:\t");
    if (name_at != std::string::npos) {
      sample.name = status.substr(name_at + 6, status.find('\n', name_at) - name_at - 6);
    }
    sample.switches = StatusField(status, "voluntary_ctxt_switches") +
                      StatusField(status, "nonvoluntary_ctxt_switches");
    sample.cpu_ns =
        std::strtoull(ReadText(entry.path().string() + "/schedstat").c_str(), nullptr, 10);
    threads[entry.path().filename().string()] = sample;
  }
  return threads;
}

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

void Stop(pid_t pid) {
  if (pid <= 0) return;
  kill(pid, SIGTERM);
  waitpid(pid, nullptr, 0);
}

bool Alive(pid_t pid) {
  return waitpid(pid, nullptr, WNOHANG) == 0;
}

bool RunScenario(const Scenario& scenario, const std::string& bin, int seconds) {
  std::printf("== %s\n", scenario.name);
  char pattern[] = "/tmp/qelta-idle-XXXXXX";
  const std::string dir = mkdtemp(pattern);
  fs::copy_file(bin + "/qelta-monitor", dir + "/qelta-monitor");
  fs::create_directories(dir + "/config/QELTA/QELTA MONITOR");
  fs::create_directories(dir + "/runtime");
  chmod((dir + "/runtime").c_str(), 0700);

  qelta::upssim::SimulatorProcess simulator;
  if (!simulator.Start(bin + "/qelta-upssim", {})) {
    std::fprintf(stderr, "the simulator did not start\n");
    return false;
  }
  if (scenario.battery && simulator.Command("battery") != "ok") {
    std::fprintf(stderr, "the simulator did not go on battery\n");
    return false;
  }
  const std::string service_ini = dir + "/service.ini";
  if (scenario.service) {
    std::ofstream(service_ini) << "[Settings]\nPort=COM1\nInterval=3\n[Network]\nPort="
                               << 40000 + getpid() % 20000
                               << "\n[Sense]\nBatteryShutdown=0\n[Ports]\nCOM1=" << simulator.Path()
                               << "\n";
  }
  {
    std::ofstream ini(dir + "/config/QELTA/QELTA MONITOR/1.0.ini");
    ini << "[Settings]\nInstalled=1\nVersion=0.99.6\nPort=COM1\nInterval=3\n[Network]\nServe=0\n";
    if (scenario.popup) ini << "CloseInformationOnDeactivate=0\n";
    ini << "[Sense]\nBatteryShutdown=0\n[Ports]\nCOM1=" << simulator.Path() << "\n";
  }

  pid_t xvfb = -1;
  const std::string display = ":" + std::to_string(300 + getpid() % 500);
  if (scenario.xvfb) {
    xvfb = Spawn({"/usr/bin/Xvfb", display, "-nolisten", "tcp", "-screen", "0", "1280x1024x24"});
    for (int i = 0; i < 100 && !fs::exists("/tmp/.X11-unix/X" + display.substr(1)); ++i) {
      std::this_thread::sleep_for(100ms);
    }
  }
  qelta::bench::XEmbedTrayHost tray;
  if (scenario.popup && !tray.Start(display)) {
    std::fprintf(stderr, "no tray on %s\n", display.c_str());
    Stop(xvfb);
    return false;
  }

  const pid_t monitor = fork();
  if (monitor == 0) {
    setenv("XDG_CONFIG_HOME", (dir + "/config").c_str(), 1);
    setenv("XDG_DATA_HOME", (dir + "/data").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", (dir + "/runtime").c_str(), 1);
    setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + dir + "/none").c_str(), 1);
    setenv("DBUS_SYSTEM_BUS_ADDRESS", ("unix:path=" + dir + "/none").c_str(), 1);
    if (scenario.xvfb) {
      setenv("DISPLAY", display.c_str(), 1);
      setenv("QT_QPA_PLATFORM", "xcb", 1);
    } else {
      unsetenv("DISPLAY");
      setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    if (chdir(dir.c_str()) != 0) _exit(127);
    const std::string exe = dir + "/qelta-monitor";
    if (scenario.service) {
      unsetenv("QT_QPA_PLATFORM");
      unsetenv("DBUS_SESSION_BUS_ADDRESS");
      setenv("STATE_DIRECTORY", dir.c_str(), 1);
      execl(exe.c_str(), exe.c_str(), "--service", "--config", service_ini.c_str(),
            static_cast<char*>(nullptr));
      _exit(127);
    }
    execl(exe.c_str(), exe.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }

  bool ok = true;
  std::this_thread::sleep_for(5s);
  if (scenario.popup) {
    if (!tray.WaitForIcon(10s)) {
      std::printf("the icon did not dock\n");
      ok = false;
    } else {
      tray.ClickIcon();
      std::this_thread::sleep_for(2s);
      if (!tray.WindowShown("QELTA MONITOR")) {
        std::printf("the pop-up did not show\n");
        ok = false;
      }
    }
  }
  // Past the start-up, the first polls and the welcome balloon.
  std::this_thread::sleep_for(5s);

  const auto stats_path = dir + "/qelta-monitor.stats";
  auto stats_size = [&] { return fs::exists(stats_path) ? fs::file_size(stats_path) : 0; };
  const auto records_before = stats_size();
  const auto before = SampleThreads(monitor);
  const auto start = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  const auto after = SampleThreads(monitor);
  const double elapsed =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const auto records_after = stats_size();
  const std::string status = ReadText("/proc/" + std::to_string(monitor) + "/status");
  const bool popup_still_shown = scenario.popup && tray.WindowShown("QELTA MONITOR");
  if (!Alive(monitor)) {
    std::printf("the monitor ended during the measurement\n");
    ok = false;
  }

  uint64_t switches = 0;
  uint64_t cpu_ns = 0;
  std::vector<std::string> per_thread;
  for (const auto& [tid, sample] : after) {
    const auto was = before.find(tid);
    const uint64_t s = sample.switches - (was != before.end() ? was->second.switches : 0);
    const uint64_t c = sample.cpu_ns - (was != before.end() ? was->second.cpu_ns : 0);
    switches += s;
    cpu_ns += c;
    if (s > 0) {
      char line[160];
      std::snprintf(line, sizeof line, "    %-16s %7.2f wake-ups/s\n", sample.name.c_str(),
                    s / elapsed);
      per_thread.push_back(line);
    }
  }
  std::printf("measured for:         %.1f s (polling every 3 s), %zu threads\n", elapsed,
              after.size());
  std::printf("samples recorded:     %llu\n",
              static_cast<unsigned long long>((records_after - records_before) / 112));
  if (scenario.popup) std::printf("pop-up shown at end:  %s\n", popup_still_shown ? "yes" : "no");
  std::printf("wake-ups:             %.2f per second\n", switches / elapsed);
  for (const auto& line : per_thread) std::fputs(line.c_str(), stdout);
  std::printf("CPU:                  %.3f %% of one core (%.3f s)\n",
              100.0 * cpu_ns / 1e9 / elapsed, cpu_ns / 1e9);
  std::printf("resident memory:      %.1f MB (peak %.1f MB)\n",
              StatusField(status, "VmRSS") / 1024.0, StatusField(status, "VmHWM") / 1024.0);
  std::fflush(stdout);

  Stop(monitor);
  tray.Stop();
  Stop(xvfb);
  simulator.Stop();
  fs::remove_all(dir);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  int seconds = 120;
  std::string bin = QELTA_BIN_DIR;
  std::optional<std::string> only;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--bin" && i + 1 < argc) {
      bin = argv[++i];
    } else if (arg == "--only" && i + 1 < argc) {
      only = argv[++i];
    } else {
      seconds = std::atoi(arg.c_str());
    }
  }
  if (seconds <= 0) {
    std::fprintf(stderr, "usage: bench_idle_cost [seconds] [--bin DIR] [--only SCENARIO]\n");
    return 2;
  }
  const bool have_xvfb = fs::exists("/usr/bin/Xvfb");
  bool ok = true;
  bool ran = false;
  for (const Scenario& scenario : kScenarios) {
    if (only && *only != scenario.name) continue;
    ran = true;
    if (scenario.xvfb && !have_xvfb) {
      std::printf("== %s: skipped, Xvfb is not installed\n", scenario.name);
      ok = false;
      continue;
    }
    ok = RunScenario(scenario, bin, seconds) && ok;
  }
  if (!ran) {
    std::fprintf(stderr, "no scenario named %s\n", only->c_str());
    return 2;
  }
  return ok ? 0 : 1;
}
