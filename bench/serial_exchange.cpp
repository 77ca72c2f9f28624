// Times status queries against the simulated UPS sending at the real pace of 2400 baud and
// compares the median exchange with the time the reply needs on the line.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "link/modems.h"
#include "link/no_hid_branch.h"
#include "link/serial_port.h"
#include "link/ups.h"
#include "platform/wall_clock.h"
#include "settings/memory_settings.h"
#include "tools/upssim/simulator_process.h"

namespace {

constexpr int kQueries = 50;

struct Figures {
  double median_ms = 0, min_ms = 0, max_ms = 0;
  int failures = 0;
};

Figures Measure(qelta::UpsProtocol& protocol) {
  using Clock = std::chrono::steady_clock;
  qelta::TUPSStatus status;
  qelta::TUPSStatusRaw raw;
  protocol.QueryUPSStatus(status, raw);  // warm-up
  std::vector<double> ms;
  Figures f;
  for (int i = 0; i < kQueries; ++i) {
    const Clock::time_point start = Clock::now();
    const bool ok = protocol.QueryUPSStatus(status, raw);
    ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    if (!ok) ++f.failures;
  }
  std::sort(ms.begin(), ms.end());
  f.median_ms = (ms[kQueries / 2 - 1] + ms[kQueries / 2]) / 2;
  f.min_ms = ms.front();
  f.max_ms = ms.back();
  return f;
}

}  // namespace

int main() {
  qelta::upssim::SimulatorProcess sim;
  if (!sim.Start(QELTA_BIN_DIR "/qelta-upssim", {"--pace=real"})) {
    std::fprintf(stderr, "cannot start %s\n", QELTA_BIN_DIR "/qelta-upssim");
    return 1;
  }
  const std::string state = sim.Command("print");
  const size_t at = state.find("reply=");
  if (at == std::string::npos) {
    std::fprintf(stderr, "unexpected simulator state: %s\n", state.c_str());
    return 1;
  }
  const size_t reply_bytes = state.size() - (at + 6) + 1;  // the line and its CR
  const double line_ms = reply_bytes * 10 * 1000.0 / 2400;

  qelta::MemorySettings settings;
  settings.WriteString("Ports", "COM1", sim.Path());
  qelta::SerialPort serial(settings);
  qelta::NoHidBranch hid;
  qelta::UpsTransport transport(serial, hid);
  qelta::SystemWallClock clock;
  qelta::UpsProtocol protocol(transport, settings, clock);

  const Figures paced = Measure(protocol);
  sim.Command("pace instant");
  const Figures instant = Measure(protocol);

  std::printf("status exchange, %d queries each, reply of %zu bytes\n", kQueries, reply_bytes);
  std::printf("  reply transmission time at 2400 baud: %.1f ms\n", line_ms);
  std::printf(
      "  2400-baud pace: median %.1f ms (min %.1f, max %.1f), median - transmission "
      "%+.1f ms, failures %d\n",
      paced.median_ms, paced.min_ms, paced.max_ms, paced.median_ms - line_ms, paced.failures);
  std::printf("  instant replies: median %.2f ms (min %.2f, max %.2f), failures %d\n",
              instant.median_ms, instant.min_ms, instant.max_ms, instant.failures);
  std::printf("  goal: median within 10 ms of the transmission time: %s\n",
              paced.failures == 0 && paced.median_ms - line_ms <= 10 ? "met" : "NOT met");
  return 0;
}
