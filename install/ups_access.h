#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/hid_device.h"

namespace qelta {

// The line that a "UPS not found" box adds when the UPS's USB device (vendor 0665, product
// 5161) is present but this user may not open it: it names the device and the fix. Empty when
// no such device is present or every one of them can be opened. `can_open` tells whether this
// user may open a device node for reading and writing.
std::string UpsAccessHint(const std::vector<HidDeviceInfo>& devices,
                          const std::function<bool(const std::string&)>& can_open);

// UpsAccessHint for the devices present now (empty when they cannot be listed).
std::string CurrentUpsAccessHint();

}  // namespace qelta
