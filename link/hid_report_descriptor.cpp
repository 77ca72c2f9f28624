#include "link/hid_report_descriptor.h"

#include <algorithm>
#include <array>
#include <vector>

namespace qelta {
namespace {

// Item prefixes with their size bits masked off.
constexpr uint8_t kInput = 0x80;
constexpr uint8_t kOutput = 0x90;
constexpr uint8_t kFeature = 0xB0;
constexpr uint8_t kReportSize = 0x74;
constexpr uint8_t kReportId = 0x84;
constexpr uint8_t kReportCount = 0x94;
constexpr uint8_t kPush = 0xA4;
constexpr uint8_t kPop = 0xB4;
constexpr uint8_t kLongItem = 0xFE;

constexpr std::size_t kMaxPushDepth = 16;
// Bits per report beyond this are kept at this value: far above any usable report, and no
// sum of item sizes can overflow on the way.
constexpr uint64_t kBitCap = uint64_t{1} << 40;

struct GlobalState {
  uint32_t report_size = 0;
  uint32_t report_count = 0;
  uint32_t report_id = 0;
};

enum Kind { kInputKind = 0, kOutputKind = 1, kFeatureKind = 2 };

std::size_t LengthOf(uint64_t bits) {
  if (bits == 0) return 0;
  return static_cast<std::size_t>((std::min(bits, kBitCap) + 7) / 8 + 1);
}

}  // namespace

std::optional<HidReportLayout> ParseHidReportDescriptor(std::span<const uint8_t> descriptor) {
  std::vector<std::array<uint64_t, 3>> bits(256, {0, 0, 0});
  GlobalState global;
  std::vector<GlobalState> stack;
  bool numbered = false;

  std::size_t i = 0;
  const std::size_t n = descriptor.size();
  while (i < n) {
    const uint8_t prefix = descriptor[i];
    if (prefix == kLongItem) {
      if (n - i < 3) return std::nullopt;
      const std::size_t data_size = descriptor[i + 1];
      if (n - i - 3 < data_size) return std::nullopt;
      i += 3 + data_size;
      continue;
    }
    static constexpr std::array<std::size_t, 4> kSizes = {0, 1, 2, 4};
    const std::size_t data_size = kSizes[prefix & 0x03];
    if (n - i - 1 < data_size) return std::nullopt;
    uint32_t value = 0;
    for (std::size_t k = 0; k < data_size; ++k) {
      value |= static_cast<uint32_t>(descriptor[i + 1 + k]) << (8 * k);
    }
    i += 1 + data_size;

    const uint8_t item = prefix & 0xFC;
    switch (item) {
      case kReportSize:
        global.report_size = value;
        break;
      case kReportCount:
        global.report_count = value;
        break;
      case kReportId:
        if (value == 0 || value > 255) return std::nullopt;
        global.report_id = value;
        numbered = true;
        break;
      case kPush:
        if (stack.size() == kMaxPushDepth) return std::nullopt;
        stack.push_back(global);
        break;
      case kPop:
        if (stack.empty()) return std::nullopt;
        global = stack.back();
        stack.pop_back();
        break;
      case kInput:
      case kOutput:
      case kFeature: {
        const int kind = item == kInput ? kInputKind : item == kOutput ? kOutputKind : kFeatureKind;
        uint64_t& total = bits[global.report_id][kind];
        const uint64_t added = uint64_t{global.report_size} * global.report_count;
        total = std::min(kBitCap, total + std::min(added, kBitCap));
        break;
      }
      default:
        break;  // collections, usages and the other items do not change report sizes
    }
  }

  HidReportLayout layout;
  layout.numbered = numbered;
  for (const auto& report : bits) {
    layout.input_length = std::max(layout.input_length, LengthOf(report[kInputKind]));
    layout.output_length = std::max(layout.output_length, LengthOf(report[kOutputKind]));
    layout.feature_length = std::max(layout.feature_length, LengthOf(report[kFeatureKind]));
  }
  return layout;
}

}  // namespace qelta
