// Times status queries against the simulated UPS sending at the real pace of 2400 baud, at once,
// and at 2400 baud after thinking for 150 ms as real UPSes do; compares the median exchange with
// the time the reply needs on the line, and counts the reads (wake-ups) one exchange takes.
#include <algorithm>
#include <chrono>
#include <cstdio>
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

constexpr int kQueries = 50;
constexpr int kReplyDelayMs = 150;

// The real device, counting the reads the port makes.
class CountingDevice : public qelta::SerialDevice {
 public:
  explicit CountingDevice(int& reads) : device_(qelta::MakePosixSerialDevice()), reads_(reads) {}
  bool Open(const std::string& path, int baud) override { return device_->Open(path, baud); }
  bool IsOpen() const override { return device_->IsOpen(); }
  bool Write(const std::string& bytes) override { return device_->Write(bytes); }
  ReadResult ReadAvailable(int timeout_ms, std::span<char> buffer, std::size_t& count) override {
    ++reads_;
    return device_->ReadAvailable(timeout_ms, buffer, count);
  }
  void Close() override { device_->Close(); }

 private:
  std::unique_ptr<qelta::SerialDevice> device_;
  int& reads_;
};

struct Figures {
  double median_ms = 0, min_ms = 0, max_ms = 0;
  double reads_per_query = 0;
  int failures = 0;
};

Figures Measure(qelta::UpsProtocol& protocol, const int& reads) {
  using Clock = std::chrono::steady_clock;
  qelta::TUPSStatus status;
  qelta::TUPSStatusRaw raw;
  protocol.QueryUPSStatus(status, raw);  // warm-up
  std::vector<double> ms;
  Figures f;
  const int reads_before = reads;
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
  f.reads_per_query = static_cast<double>(reads - reads_before) / kQueries;
  return f;
}

void Print(const char* name, const Figures& f, double expected_ms) {
  std::printf(
      "  %s: median %.2f ms (min %.2f, max %.2f), median - expected %+.2f ms, %.1f reads a "
      "query, failures %d\n",
      name, f.median_ms, f.min_ms, f.max_ms, f.median_ms - expected_ms, f.reads_per_query,
      f.failures);
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
  int reads = 0;
  qelta::SerialPort serial(settings, std::make_unique<CountingDevice>(reads));
  qelta::NoHidBranch hid;
  qelta::UpsTransport transport(serial, hid);
  qelta::SystemWallClock clock;
  qelta::UpsProtocol protocol(transport, settings, clock);

  const Figures paced = Measure(protocol, reads);
  sim.Command("delay " + std::to_string(kReplyDelayMs));
  const Figures delayed = Measure(protocol, reads);
  sim.Command("delay 0");
  sim.Command("pace instant");
  const Figures instant = Measure(protocol, reads);

  std::printf("status exchange, %d queries each, reply of %zu bytes\n", kQueries, reply_bytes);
  std::printf("  reply transmission time at 2400 baud: %.1f ms\n", line_ms);
  Print("2400-baud pace", paced, line_ms);
  Print("2400-baud pace after 150 ms", delayed, kReplyDelayMs + line_ms);
  Print("instant replies", instant, 0);
  const bool met = paced.failures == 0 && delayed.failures == 0 && instant.failures == 0 &&
                   paced.median_ms - line_ms <= 10 &&
                   delayed.median_ms - (kReplyDelayMs + line_ms) <= 10;
  std::printf("  goal: every reply taken, medians within 10 ms of the reply's time: %s\n",
              met ? "met" : "NOT met");
  return 0;
}
