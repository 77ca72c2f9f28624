#include "fake_hid_device.h"

#include <algorithm>
#include <memory>

namespace qelta::testing {

FakeRead FakeRead::Text(const std::string& data, std::size_t length) {
  std::vector<uint8_t> bytes(length, 0);
  std::copy_n(data.begin(), std::min(data.size(), length - 1), bytes.begin() + 1);
  return Report(std::move(bytes));
}

FakeHidDevice::~FakeHidDevice() {
  if (on_close) on_close(reads);
  --log_.open_devices;
  if (in_flight_) {
    ++log_.closed_with_transfer_in_flight;
    --log_.transfers_in_flight;
  }
}

HidTransfer FakeHidDevice::WriteReport(std::span<const uint8_t> report, int timeout_ms) {
  if (in_flight_) return HidTransfer::Failed;  // the caller must cancel a timed-out transfer
  log_.written.emplace_back(report.begin(), report.end());
  log_.write_timeouts.push_back(timeout_ms);
  HidTransfer outcome = HidTransfer::Done;
  if (!write_outcomes.empty()) {
    outcome = write_outcomes.front();
    write_outcomes.pop_front();
  }
  if (outcome == HidTransfer::TimedOut) {
    in_flight_ = true;
    ++log_.transfers_in_flight;
  }
  if (outcome == HidTransfer::Done && on_write) on_write(*this, log_.written.back());
  return outcome;
}

HidTransfer FakeHidDevice::TimeOut(int timeout_ms) {
  if (clock) clock->Advance(timeout_ms);
  in_flight_ = true;
  ++log_.transfers_in_flight;
  return HidTransfer::TimedOut;
}

HidTransfer FakeHidDevice::ReadReport(std::span<uint8_t> report, int timeout_ms) {
  if (in_flight_) return HidTransfer::Failed;
  log_.read_lengths.push_back(report.size());
  log_.read_timeouts.push_back(timeout_ms);
  FakeRead step = FakeRead::TimeOut();
  if (endless_report) {
    if (clock) {
      if (endless_spacing_ms > timeout_ms) return TimeOut(timeout_ms);
      clock->Advance(endless_spacing_ms);
    }
    step = FakeRead::Report(*endless_report);
  } else if (!reads.empty()) {
    if (clock && reads.front().kind == FakeRead::kReport) {
      if (reads.front().at_ms > clock->NowMs() + timeout_ms) return TimeOut(timeout_ms);
      clock->AdvanceTo(reads.front().at_ms);
    }
    step = reads.front();
    reads.pop_front();
  }
  switch (step.kind) {
    case FakeRead::kReport:
      std::copy_n(step.report.begin(), std::min(step.report.size(), report.size()), report.begin());
      return HidTransfer::Done;
    case FakeRead::kTimeOut:
      return TimeOut(timeout_ms);
    case FakeRead::kFail:
      break;
  }
  return HidTransfer::Failed;
}

void FakeHidDevice::Cancel() {
  ++log_.cancels;
  if (in_flight_) {
    in_flight_ = false;
    --log_.transfers_in_flight;
  }
}

bool FakeHidBus::Enumerate(std::vector<HidDeviceInfo>& devices) {
  ++enumerate_calls;
  devices.clear();
  if (!enumerate_ok) return false;
  for (const Entry& entry : entries) devices.push_back(entry.info);
  return true;
}

std::unique_ptr<HidDevice> FakeHidBus::Open(const HidDeviceInfo& info, std::string& refusal) {
  opened_paths.push_back(info.path);
  for (const Entry& entry : entries) {
    if (entry.info.path != info.path) continue;
    if (!entry.opens) {
      if (!entry.refusal.empty()) refusal = entry.refusal;
      return nullptr;
    }
    auto device = std::make_unique<FakeHidDevice>(entry.layout, log);
    if (entry.setup) entry.setup(*device);
    last_device = device.get();
    return device;
  }
  return nullptr;
}

void PlayBridge(FakeHidDevice& device, ManualMonotonicClock& clock, const std::string& reply,
                int first_report_ms, int spacing_ms, std::vector<std::string>* commands) {
  constexpr std::size_t kReportLength = 9;  // report ID 0 and 8 data bytes
  auto pending = std::make_shared<std::string>();
  device.clock = &clock;
  device.on_write = [=, &clock](FakeHidDevice& d, const std::vector<uint8_t>& written) {
    pending->append(written.begin() + 1, std::find(written.begin() + 1, written.end(), 0));
    if (!pending->ends_with('\r')) return;
    if (commands) commands->push_back(*pending);
    if (*pending == "Q1\r") {
      int64_t at = clock.NowMs() + first_report_ms;
      for (std::size_t i = 0; i < reply.size(); i += kReportLength - 1, at += spacing_ms) {
        d.reads.push_back(FakeRead::Text(reply.substr(i, kReportLength - 1), kReportLength).At(at));
      }
    }
    pending->clear();
  };
}

}  // namespace qelta::testing
