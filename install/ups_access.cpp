#include "install/ups_access.h"

#include <unistd.h>

#include "link/hid_port.h"
#include "link/hid_report_descriptor.h"
#include "platform/hidapi_device.h"

namespace qelta {

std::string UpsAccessHint(const std::vector<HidDeviceInfo>& devices,
                          const std::function<bool(const std::string&)>& can_open) {
  for (const HidDeviceInfo& device : devices) {
    if (device.vendor_id != HidPort::kVendorId || device.product_id != HidPort::kProductId) {
      continue;
    }
    if (can_open(device.path)) continue;
    return "Нет доступа к USB-устройству UPS " + device.path +
           ": установите пакет qelta-monitor (правило udev для UPS) и подключите UPS заново.";
  }
  return {};
}

std::string CurrentUpsAccessHint() {
  HidapiDeviceBus bus(&ParseHidReportDescriptor);
  std::vector<HidDeviceInfo> devices;
  if (!bus.Init() || !bus.Enumerate(devices)) return {};
  return UpsAccessHint(
      devices, [](const std::string& path) { return ::access(path.c_str(), R_OK | W_OK) == 0; });
}

}  // namespace qelta
