// Times status queries against the simulated UPS sending at the real pace of 2400 baud, at
// 2400 baud after thinking for 150 ms as real UPSes do, and at once; compares the median and
// the worst exchange with the time the reply takes on the wire, and counts the wake-ups of the
// thread that runs the exchange (the times it slept and was woken: its voluntary context
// switches) and the times it was preempted (involuntary ones, the machine's load).
//
//   bench_serial_exchange [queries]     (50 queries a case unless told)
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "link/modems.h"
#include "link/no_hid_branch.h"
#include "link/serial_port.h"
#include "link/ups.h"
#include "platform/serial_device.h"
#include "platform/wall_clock.h"
#include "settings/memory_settings.h"
#include "tools/upssim/simulator_process.h"

namespace {

constexpr int kReplyDelayMs = 150;
constexpr double kGoalOverWireMs = 2;
constexpr double kGoalWakeUps = 3;

// The voluntary and involuntary context switches of the calling thread so far.
struct Switches {
  long voluntary = 0;
  long involuntary = 0;
};

Switches SwitchesOfThisThread() {
  rusage usage{};
  ::getrusage(RUSAGE_THREAD, &usage);
  return {usage.ru_nvcsw, usage.ru_nivcsw};
}

struct Figures {
  double median_ms = 0, min_ms = 0, worst_ms = 0;
  double wake_ups = 0;  // a query, on average
  long worst_wake_ups = 0;
  double preemptions = 0;  // a query, on average
  int failures = 0;
};

Figures Measure(qelta::UpsProtocol& protocol, int queries) {
  using Clock = std::chrono::steady_clock;
  qelta::TUPSStatus status;
  qelta::TUPSStatusRaw raw;
  protocol.QueryUPSStatus(status, raw);  // warm-up
  std::vector<double> ms;
  Figures f;
  long wake_ups = 0, preemptions = 0;
  for (int i = 0; i < queries; ++i) {
    const Switches before = SwitchesOfThisThread();
    const Clock::time_point start = Clock::now();
    const bool ok = protocol.QueryUPSStatus(status, raw);
    ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    const Switches after = SwitchesOfThisThread();
    wake_ups += after.voluntary - before.voluntary;
    preemptions += after.involuntary - before.involuntary;
    f.worst_wake_ups = std::max(f.worst_wake_ups, after.voluntary - before.voluntary);
    if (!ok) ++f.failures;
  }
  std::sort(ms.begin(), ms.end());
  const size_t n = ms.size();
  f.median_ms = n % 2 ? ms[n / 2] : (ms[n / 2 - 1] + ms[n / 2]) / 2;
  f.min_ms = ms.front();
  f.worst_ms = ms.back();
  f.wake_ups = static_cast<double>(wake_ups) / queries;
  f.preemptions = static_cast<double>(preemptions) / queries;
  return f;
}

bool Print(const char* name, const Figures& f, double wire_ms) {
  const bool met =
      f.failures == 0 && f.median_ms - wire_ms <= kGoalOverWireMs && f.wake_ups <= kGoalWakeUps;
  std::printf(
      "  %s (wire %.1f ms):\n"
      "    exchange: median %.2f ms (%+.2f over the wire), worst %.2f ms (%+.2f), best %.2f ms\n"
      "    wake-ups a query: %.2f (worst %ld); preemptions a query: %.2f; failures %d  [%s]\n",
      name, wire_ms, f.median_ms, f.median_ms - wire_ms, f.worst_ms, f.worst_ms - wire_ms, f.min_ms,
      f.wake_ups, f.worst_wake_ups, f.preemptions, f.failures, met ? "goal met" : "goal NOT met");
  return met;
}

}  // namespace

int main(int argc, char** argv) {
  const int queries = argc > 1 ? std::atoi(argv[1]) : 50;
  if (queries < 1) {
    std::fprintf(stderr, "usage: bench_serial_exchange [queries]\n");
    return 2;
  }
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

  const Figures paced = Measure(protocol, queries);
  sim.Command("delay " + std::to_string(kReplyDelayMs));
  const Figures delayed = Measure(protocol, queries);
  sim.Command("delay 0");
  sim.Command("pace instant");
  const Figures instant = Measure(protocol, queries);

  std::printf("status exchange (open, Q1, reply, close), %d queries a case, reply of %zu bytes\n",
              queries, reply_bytes);
  std::printf("goals: median <= wire + %.0f ms, <= %.0f wake-ups a query on average\n",
              kGoalOverWireMs, kGoalWakeUps);
  bool met = Print("2400 baud", paced, line_ms);
  met = Print("2400 baud after 150 ms of thought", delayed, kReplyDelayMs + line_ms) && met;
  met = Print("instant reply", instant, 0) && met;
  std::printf("  all goals: %s\n", met ? "met" : "NOT met");
  return 0;
}
