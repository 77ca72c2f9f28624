#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "platform/hid_device.h"

namespace qelta {

// Reads the report lengths out of a HID report descriptor: for every report ID the bits of
// all main items of one kind (report size × report count) are added up and rounded up to
// whole bytes; a kind's length is the largest of its reports plus the report-ID byte, or 0
// when the device has no report of that kind. Gives nothing when the descriptor is cut short
// or otherwise malformed (an item running past the end, report ID 0 or above 255, a Pop
// without a Push, Push nested too deep).
std::optional<HidReportLayout> ParseHidReportDescriptor(std::span<const uint8_t> descriptor);

}  // namespace qelta
