#include "link/status_records.h"

#include <cstdint>
#include <string_view>

namespace qelta {

int32_t IntegerOrZero(std::string_view text) {
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  if (i == text.size()) return 0;
  // Magnitude up to 2^31 (the most negative value); anything larger is out of range.
  constexpr int64_t kLimit = int64_t{1} << 31;
  int64_t magnitude = 0;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c < '0' || c > '9') return 0;
    magnitude = magnitude * 10 + (c - '0');
    if (magnitude > kLimit) return 0;
  }
  if (!negative && magnitude == kLimit) return 0;
  return static_cast<int32_t>(negative ? -magnitude : magnitude);
}

uint32_t TimeStampFromLocalMilliseconds(int64_t local_ms) {
  // Floor division, so that the remainder is in [0, 1000) for negative moments too.
  int64_t seconds = local_ms / 1000;
  int64_t rest = local_ms % 1000;
  if (rest < 0) {
    rest += 1000;
    --seconds;
  }
  if (rest > 500 || (rest == 500 && (seconds & 1) != 0)) ++seconds;
  // Low 32 bits, modulo 2^32 (a moment before 1970 wraps to a large value).
  return static_cast<uint32_t>(static_cast<uint64_t>(seconds));
}

TUPSStatusRaw StatusToRaw(const TUPSStatus& status, uint32_t time) {
  TUPSStatusRaw raw;
  raw.time = time;
  raw.IP_voltage = DecimalToExtended(status.IP_voltage);
  raw.IP_fault_voltage = DecimalToExtended(status.IP_fault_voltage);
  raw.OP_voltage = DecimalToExtended(status.OP_voltage);
  raw.OP_current = IntegerOrZero(status.OP_current);
  raw.OP_frequency = DecimalToExtended(status.OP_frequency);
  raw.battery_voltage = DecimalToExtended(status.battery_voltage);
  raw.temp = DecimalToExtended(status.temp);
  raw.status_using_battery = status.status_using_battery;
  raw.status_battery_low = status.status_battery_low;
  raw.status_avr = status.status_avr;
  raw.status_ups_failed = status.status_ups_failed;
  raw.status_ups_is_line_interactive = status.status_ups_is_line_interactive;
  raw.status_testing = status.status_testing;
  raw.status_shutdown = status.status_shutdown;
  raw.status_beeper = status.status_beeper;
  return raw;
}

namespace {

// Byte offsets of the file record.
constexpr size_t kTimeOffset = 0;
constexpr size_t kIPVoltageOffset = 8;
constexpr size_t kIPFaultVoltageOffset = 24;
constexpr size_t kOPVoltageOffset = 40;
constexpr size_t kOPCurrentOffset = 52;
constexpr size_t kOPFrequencyOffset = 56;
constexpr size_t kBatteryVoltageOffset = 72;
constexpr size_t kTempOffset = 88;
constexpr size_t kFlagsOffset = 98;

void PutUint32(StatusRawBytes& bytes, size_t offset, uint32_t value) {
  for (size_t i = 0; i < 4; ++i) bytes[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t GetUint32(const uint8_t* bytes, size_t offset) {
  uint32_t value = 0;
  for (size_t i = 4; i-- > 0;) value = (value << 8) | bytes[offset + i];
  return value;
}

void PutExtended(StatusRawBytes& bytes, size_t offset, const Extended& value) {
  for (size_t i = 0; i < value.bytes.size(); ++i) bytes[offset + i] = value.bytes[i];
}

Extended GetExtended(const uint8_t* bytes, size_t offset) {
  Extended value;
  for (size_t i = 0; i < value.bytes.size(); ++i) value.bytes[i] = bytes[offset + i];
  return value;
}

}  // namespace

StatusRawBytes EncodeStatusRaw(const TUPSStatusRaw& raw) {
  StatusRawBytes bytes{};
  PutUint32(bytes, kTimeOffset, raw.time);
  PutExtended(bytes, kIPVoltageOffset, raw.IP_voltage);
  PutExtended(bytes, kIPFaultVoltageOffset, raw.IP_fault_voltage);
  PutExtended(bytes, kOPVoltageOffset, raw.OP_voltage);
  PutUint32(bytes, kOPCurrentOffset, static_cast<uint32_t>(raw.OP_current));
  PutExtended(bytes, kOPFrequencyOffset, raw.OP_frequency);
  PutExtended(bytes, kBatteryVoltageOffset, raw.battery_voltage);
  PutExtended(bytes, kTempOffset, raw.temp);
  const bool flags[8] = {raw.status_using_battery,
                         raw.status_battery_low,
                         raw.status_avr,
                         raw.status_ups_failed,
                         raw.status_ups_is_line_interactive,
                         raw.status_testing,
                         raw.status_shutdown,
                         raw.status_beeper};
  for (size_t i = 0; i < 8; ++i) bytes[kFlagsOffset + i] = flags[i] ? 1 : 0;
  return bytes;
}

TUPSStatusRaw DecodeStatusRaw(const uint8_t* bytes) {
  TUPSStatusRaw raw;
  raw.time = GetUint32(bytes, kTimeOffset);
  raw.IP_voltage = GetExtended(bytes, kIPVoltageOffset);
  raw.IP_fault_voltage = GetExtended(bytes, kIPFaultVoltageOffset);
  raw.OP_voltage = GetExtended(bytes, kOPVoltageOffset);
  raw.OP_current = static_cast<int32_t>(GetUint32(bytes, kOPCurrentOffset));
  raw.OP_frequency = GetExtended(bytes, kOPFrequencyOffset);
  raw.battery_voltage = GetExtended(bytes, kBatteryVoltageOffset);
  raw.temp = GetExtended(bytes, kTempOffset);
  raw.status_using_battery = bytes[kFlagsOffset + 0] != 0;
  raw.status_battery_low = bytes[kFlagsOffset + 1] != 0;
  raw.status_avr = bytes[kFlagsOffset + 2] != 0;
  raw.status_ups_failed = bytes[kFlagsOffset + 3] != 0;
  raw.status_ups_is_line_interactive = bytes[kFlagsOffset + 4] != 0;
  raw.status_testing = bytes[kFlagsOffset + 5] != 0;
  raw.status_shutdown = bytes[kFlagsOffset + 6] != 0;
  raw.status_beeper = bytes[kFlagsOffset + 7] != 0;
  return raw;
}

}  // namespace qelta
