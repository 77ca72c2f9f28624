// The numeric record: time stamps, filling it from a status, and its 112-byte file form.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>

#include "link/status_records.h"

namespace qelta {
namespace {

TEST(TimeStamp, RoundsToNearestSecondTiesToEven) {
  EXPECT_EQ(TimeStampFromLocalMilliseconds(0), 0u);
  EXPECT_EQ(TimeStampFromLocalMilliseconds(499), 0u);
  EXPECT_EQ(TimeStampFromLocalMilliseconds(500), 0u);  // tie, 0 is even
  EXPECT_EQ(TimeStampFromLocalMilliseconds(501), 1u);
  EXPECT_EQ(TimeStampFromLocalMilliseconds(1499), 1u);
  EXPECT_EQ(TimeStampFromLocalMilliseconds(1500), 2u);  // tie, 2 is even
  EXPECT_EQ(TimeStampFromLocalMilliseconds(2500), 2u);
  EXPECT_EQ(TimeStampFromLocalMilliseconds(3500), 4u);
  EXPECT_EQ(TimeStampFromLocalMilliseconds(1718100000500), 1718100000u);
  EXPECT_EQ(TimeStampFromLocalMilliseconds(1718100001500), 1718100002u);
  EXPECT_EQ(TimeStampFromLocalMilliseconds(1718100001999), 1718100002u);
}

TEST(TimeStamp, KeepsTheLow32Bits) {
  const int64_t two32 = int64_t{1} << 32;
  EXPECT_EQ(TimeStampFromLocalMilliseconds((two32 - 1) * 1000), 0xFFFFFFFFu);
  EXPECT_EQ(TimeStampFromLocalMilliseconds((two32 - 1) * 1000 + 499), 0xFFFFFFFFu);
  // 2^32 - 0.5 s is a tie between 2^32 - 1 (odd) and 2^32 (even), which wraps to 0.
  EXPECT_EQ(TimeStampFromLocalMilliseconds((two32 - 1) * 1000 + 500), 0u);
  EXPECT_EQ(TimeStampFromLocalMilliseconds(two32 * 1000), 0u);
  EXPECT_EQ(TimeStampFromLocalMilliseconds((two32 + 7) * 1000 + 200), 7u);
  // Before 1970 the seconds count wraps modulo 2^32, after rounding (floor-based, so -0.5 s
  // is a tie between -1 and 0 and goes to 0).
  EXPECT_EQ(TimeStampFromLocalMilliseconds(-500), 0u);
  EXPECT_EQ(TimeStampFromLocalMilliseconds(-501), 0xFFFFFFFFu);
  EXPECT_EQ(TimeStampFromLocalMilliseconds(-1000), 0xFFFFFFFFu);
  EXPECT_EQ(TimeStampFromLocalMilliseconds(-1500), 0xFFFFFFFEu);  // tie, -2 is even
  EXPECT_EQ(TimeStampFromLocalMilliseconds(-2500), 0xFFFFFFFEu);  // tie, -2 is even
  EXPECT_EQ(TimeStampFromLocalMilliseconds(-2400), 0xFFFFFFFEu);
  // The extremes of the input do not overflow.
  EXPECT_EQ(TimeStampFromLocalMilliseconds(INT64_MAX),
            static_cast<uint32_t>((INT64_MAX / 1000 + 1) & 0xFFFFFFFF));  // ...807 ms rounds up
  EXPECT_EQ(TimeStampFromLocalMilliseconds(INT64_MIN),
            static_cast<uint32_t>(static_cast<uint64_t>(INT64_MIN / 1000 - 1)));  // ...808 ms
}

TEST(StatusToRaw, ConvertsEveryWordAndCopiesTheFlags) {
  TUPSStatus status;
  status.IP_voltage = "230,5";
  status.IP_fault_voltage = "140.0";
  status.OP_voltage = "220.1";
  status.OP_current = "045";
  status.OP_frequency = "50.0";
  status.battery_voltage = "13.50";
  status.temp = "-5";
  status.status_ups_is_line_interactive = true;
  status.status_beeper = true;
  const TUPSStatusRaw raw = StatusToRaw(status, 123456u);
  EXPECT_EQ(raw.time, 123456u);
  EXPECT_EQ(raw.IP_voltage, Extended{});  // decimal comma: not a number
  EXPECT_EQ(raw.IP_fault_voltage.ToLongDouble(), 140.0L);
  EXPECT_EQ(raw.OP_voltage.ToLongDouble(), 220.1L);
  EXPECT_EQ(raw.OP_current, 45);
  EXPECT_EQ(raw.OP_frequency.ToLongDouble(), 50.0L);
  EXPECT_EQ(raw.battery_voltage.ToLongDouble(), 13.5L);
  EXPECT_EQ(raw.temp.ToLongDouble(), -5.0L);
  EXPECT_FALSE(raw.status_using_battery);
  EXPECT_FALSE(raw.status_battery_low);
  EXPECT_FALSE(raw.status_avr);
  EXPECT_FALSE(raw.status_ups_failed);
  EXPECT_TRUE(raw.status_ups_is_line_interactive);
  EXPECT_FALSE(raw.status_testing);
  EXPECT_FALSE(raw.status_shutdown);
  EXPECT_TRUE(raw.status_beeper);

  status.OP_current = "45.5";
  EXPECT_EQ(StatusToRaw(status, 1).OP_current, 0);
  status.OP_current = "-7";
  EXPECT_EQ(StatusToRaw(status, 1).OP_current, -7);

  // Each flag lands in its own field.
  bool TUPSStatus::*const status_flags[] = {&TUPSStatus::status_using_battery,
                                            &TUPSStatus::status_battery_low,
                                            &TUPSStatus::status_avr,
                                            &TUPSStatus::status_ups_failed,
                                            &TUPSStatus::status_ups_is_line_interactive,
                                            &TUPSStatus::status_testing,
                                            &TUPSStatus::status_shutdown,
                                            &TUPSStatus::status_beeper};
  bool TUPSStatusRaw::*const raw_flags[] = {&TUPSStatusRaw::status_using_battery,
                                            &TUPSStatusRaw::status_battery_low,
                                            &TUPSStatusRaw::status_avr,
                                            &TUPSStatusRaw::status_ups_failed,
                                            &TUPSStatusRaw::status_ups_is_line_interactive,
                                            &TUPSStatusRaw::status_testing,
                                            &TUPSStatusRaw::status_shutdown,
                                            &TUPSStatusRaw::status_beeper};
  for (int i = 0; i < 8; ++i) {
    TUPSStatus one;
    one.*status_flags[i] = true;
    const TUPSStatusRaw r = StatusToRaw(one, 1);
    for (int k = 0; k < 8; ++k) EXPECT_EQ(r.*raw_flags[k], k == i) << i << " " << k;
  }
}

TEST(StatusToRaw, EmptyStatusGivesZeroRecord) {
  const TUPSStatusRaw raw = StatusToRaw(TUPSStatus{}, 0);
  EXPECT_EQ(raw, TUPSStatusRaw{});
  const StatusRawBytes bytes = EncodeStatusRaw(raw);
  for (uint8_t b : bytes) EXPECT_EQ(b, 0);
}

Extended Pattern(uint8_t first) {
  Extended e;
  for (size_t i = 0; i < e.bytes.size(); ++i) e.bytes[i] = static_cast<uint8_t>(first + i);
  return e;
}

TEST(StatusRawFile, FieldsAtTheirOffsetsLittleEndianPaddingZero) {
  TUPSStatusRaw raw;
  raw.time = 0x11223344u;
  raw.IP_voltage = Pattern(0x20);
  raw.IP_fault_voltage = Pattern(0x40);
  raw.OP_voltage = Pattern(0x60);
  raw.OP_current = -2;  // 0xFFFFFFFE
  raw.OP_frequency = Pattern(0x80);
  raw.battery_voltage = Pattern(0xA0);
  raw.temp = Pattern(0xC0);
  raw.status_using_battery = true;
  raw.status_avr = true;
  raw.status_ups_is_line_interactive = true;
  raw.status_beeper = true;
  const StatusRawBytes bytes = EncodeStatusRaw(raw);
  ASSERT_EQ(bytes.size(), 112u);

  StatusRawBytes expected{};
  const uint8_t time[] = {0x44, 0x33, 0x22, 0x11};
  std::memcpy(&expected[0], time, 4);
  std::memcpy(&expected[8], raw.IP_voltage.bytes.data(), 10);
  std::memcpy(&expected[24], raw.IP_fault_voltage.bytes.data(), 10);
  std::memcpy(&expected[40], raw.OP_voltage.bytes.data(), 10);
  const uint8_t current[] = {0xFE, 0xFF, 0xFF, 0xFF};
  std::memcpy(&expected[52], current, 4);
  std::memcpy(&expected[56], raw.OP_frequency.bytes.data(), 10);
  std::memcpy(&expected[72], raw.battery_voltage.bytes.data(), 10);
  std::memcpy(&expected[88], raw.temp.bytes.data(), 10);
  const uint8_t flags[] = {1, 0, 1, 0, 1, 0, 0, 1};
  std::memcpy(&expected[98], flags, 8);
  for (size_t i = 0; i < bytes.size(); ++i) EXPECT_EQ(bytes[i], expected[i]) << "offset " << i;

  EXPECT_EQ(DecodeStatusRaw(bytes.data()), raw);
}

TEST(StatusRawFile, ValuesOfARealSample) {
  TUPSStatus status;
  status.IP_voltage = "230.5";
  status.OP_current = "045";
  const StatusRawBytes bytes = EncodeStatusRaw(StatusToRaw(status, 0x5F5E1000u));
  // 230.5 = 0xE680000000000000 × 2^-56: exponent 16383 + 7 = 0x4006.
  const uint8_t voltage[] = {0, 0, 0, 0, 0, 0, 0x80, 0xE6, 0x06, 0x40};
  for (size_t i = 0; i < 10; ++i) EXPECT_EQ(bytes[8 + i], voltage[i]) << i;
  EXPECT_EQ(bytes[52], 45);
  EXPECT_EQ(bytes[0], 0x00);
  EXPECT_EQ(bytes[1], 0x10);
  EXPECT_EQ(bytes[2], 0x5E);
  EXPECT_EQ(bytes[3], 0x5F);
}

TEST(StatusRawFile, DecodeThenEncodeGivesTheSameBytes) {
  std::mt19937_64 random(7);
  std::uniform_int_distribution<int> byte(0, 255);
  const size_t padding[] = {4,  5,  6,  7,  18, 19, 20,  21,  22,  23,  34,  35,
                            36, 37, 38, 39, 50, 51, 66,  67,  68,  69,  70,  71,
                            82, 83, 84, 85, 86, 87, 106, 107, 108, 109, 110, 111};
  for (int round = 0; round < 200; ++round) {
    StatusRawBytes bytes{};
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(byte(random));
    for (size_t offset : padding) bytes[offset] = 0;
    for (size_t i = 98; i < 106; ++i) bytes[i] = static_cast<uint8_t>(byte(random) & 1);
    const TUPSStatusRaw raw = DecodeStatusRaw(bytes.data());
    EXPECT_EQ(EncodeStatusRaw(raw), bytes);
  }
  // A boolean byte other than 0 reads as true; padding read from a file is not carried.
  StatusRawBytes odd{};
  odd[99] = 0x7F;
  odd[4] = 0xAA;
  const TUPSStatusRaw raw = DecodeStatusRaw(odd.data());
  EXPECT_TRUE(raw.status_battery_low);
  EXPECT_FALSE(raw.status_using_battery);
  const StatusRawBytes written = EncodeStatusRaw(raw);
  EXPECT_EQ(written[99], 1);
  EXPECT_EQ(written[4], 0);
}

}  // namespace
}  // namespace qelta
