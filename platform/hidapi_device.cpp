#include "platform/hidapi_device.h"

#include "platform/access_notice.h"

#include <fcntl.h>
#include <hidapi/hidapi.h>
#include <linux/hidraw.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cwchar>
#include <mutex>
#include <system_error>
#include <thread>

namespace qelta {
namespace {

using Clock = std::chrono::steady_clock;

// Milliseconds left until `deadline`, rounded up so that a wait never ends just short of it.
int MillisecondsLeft(Clock::time_point deadline) {
  auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  if (left <= 0) return 0;
  return left > 60 * 60 * 1000 ? 60 * 60 * 1000 : static_cast<int>(left);
}

class HidrawDevice : public HidDevice {
 public:
  HidrawDevice(int fd, HidReportLayout layout) : fd_(fd), layout_(layout) {}
  ~HidrawDevice() override {
    Cancel();
    ::close(fd_);
  }

  HidReportLayout Layout() const override { return layout_; }

  HidTransfer WriteReport(std::span<const uint8_t> report, int timeout_ms) override {
    Cancel();  // a report that timed out earlier must be over before the next one goes
    pending_.data.assign(report.begin(), report.end());
    pending_.done = false;
    pending_.written = -1;
    pending_.deadline = Clock::now() + std::chrono::milliseconds(timeout_ms < 0 ? 0 : timeout_ms);
    try {
      writer_ = std::thread([this] { RunWrite(); });
    } catch (const std::system_error&) {
      return HidTransfer::Failed;
    }
    std::unique_lock lock(pending_.mutex);
    if (!pending_.cv.wait_until(lock, pending_.deadline, [this] { return pending_.done; })) {
      return HidTransfer::TimedOut;
    }
    lock.unlock();
    writer_.join();
    return pending_.written == static_cast<ssize_t>(pending_.data.size()) ? HidTransfer::Done
                                                                          : HidTransfer::Failed;
  }

  HidTransfer ReadReport(std::span<uint8_t> report, int timeout_ms) override {
    if (report.empty()) return HidTransfer::Failed;
    // hidraw hands over a report with its ID only when the device numbers its reports.
    std::span<uint8_t> target = report;
    if (!layout_.numbered) {
      report[0] = 0;
      target = report.subspan(1);
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms < 0 ? 0 : timeout_ms);
    for (;;) {
      pollfd p{fd_, POLLIN, 0};
      const int ready = ::poll(&p, 1, MillisecondsLeft(deadline));
      if (ready < 0) {
        if (errno == EINTR) continue;
        return HidTransfer::Failed;
      }
      if (ready == 0) return HidTransfer::TimedOut;
      if (!(p.revents & POLLIN)) return HidTransfer::Failed;  // gone or in error
      const ssize_t n = ::read(fd_, target.data(), target.size());
      if (n > 0) return HidTransfer::Done;
      if (n == 0) {
        // An empty report, unless the other end has gone away.
        if (p.revents & (POLLHUP | POLLERR)) return HidTransfer::Failed;
        return HidTransfer::Done;
      }
      if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) return HidTransfer::Failed;
    }
  }

  void Cancel() override {
    if (writer_.joinable()) writer_.join();
  }

 private:
  void RunWrite() {
    ssize_t written = -1;
    for (;;) {
      written = ::write(fd_, pending_.data.data(), pending_.data.size());
      if (written >= 0) break;
      if (errno == EINTR) continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK) break;
      int left = MillisecondsLeft(pending_.deadline);
      if (left == 0) break;
      pollfd p{fd_, POLLOUT, 0};
      if (::poll(&p, 1, left) < 0 && errno != EINTR) break;
    }
    std::lock_guard lock(pending_.mutex);
    pending_.written = written;
    pending_.done = true;
    pending_.cv.notify_one();
  }

  struct PendingWrite {
    std::mutex mutex;
    std::condition_variable cv;
    std::vector<uint8_t> data;
    Clock::time_point deadline;
    ssize_t written = -1;
    bool done = false;
  };

  int fd_;
  HidReportLayout layout_;
  PendingWrite pending_;
  std::thread writer_;
};

}  // namespace

std::unique_ptr<HidDevice> AdoptHidrawDevice(int fd, HidReportLayout layout) {
  return std::make_unique<HidrawDevice>(fd, layout);
}

// The library stays initialised for the life of the process once it has started.
bool HidapiDeviceBus::Init() {
  if (initialized_) return true;
  initialized_ = hid_init() == 0;
  return initialized_;
}

bool HidapiDeviceBus::Enumerate(std::vector<HidDeviceInfo>& devices) {
  devices.clear();
  hid_device_info* list = hid_enumerate(0, 0);
  if (list == nullptr) {
    // An empty list comes back as nothing too; hidapi then says that no device was found.
    const wchar_t* error = hid_error(nullptr);
    return error == nullptr || std::wcscmp(error, L"Success") == 0 ||
           std::wcsncmp(error, L"No HID devices", 14) == 0;
  }
  for (const hid_device_info* d = list; d != nullptr; d = d->next) {
    if (d->path == nullptr) continue;
    devices.push_back(HidDeviceInfo{d->path, d->vendor_id, d->product_id});
  }
  hid_free_enumeration(list);
  return true;
}

std::unique_ptr<HidDevice> HidapiDeviceBus::Open(const HidDeviceInfo& info, std::string& refusal) {
  int fd = ::open(info.path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    ProcessAccessNotice().OpenFailed(AccessNotice::Kind::UsbUps, info.path, errno);
    return nullptr;
  }

  int size = 0;
  hidraw_report_descriptor descriptor{};
  if (::ioctl(fd, HIDIOCGRDESCSIZE, &size) < 0 || size < 0 ||
      size > static_cast<int>(sizeof descriptor.value)) {
    ::close(fd);
    refusal = "Невозможно прочитать описание HID-отчётов USB-устройства.";
    return nullptr;
  }
  descriptor.size = static_cast<uint32_t>(size);
  if (::ioctl(fd, HIDIOCGRDESC, &descriptor) < 0) {
    ::close(fd);
    refusal = "Невозможно прочитать описание HID-отчётов USB-устройства.";
    return nullptr;
  }
  std::optional<HidReportLayout> layout =
      parser_(std::span<const uint8_t>(descriptor.value, descriptor.size));
  if (!layout) {
    ::close(fd);
    refusal = "Описание HID-отчётов USB-устройства повреждено.";
    return nullptr;
  }
  return AdoptHidrawDevice(fd, *layout);
}

}  // namespace qelta
