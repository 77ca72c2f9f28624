#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qelta {

// One status reply as text, word by word, and its eight flags. Texts are kept exactly as
// received (bytes of the UPS's reply; leading zeros included).
struct TUPSStatus {
  std::string IP_voltage;
  std::string IP_fault_voltage;
  std::string OP_voltage;
  std::string OP_current;
  std::string OP_frequency;
  std::string battery_voltage;
  std::string temp;
  bool status_using_battery = false;
  bool status_battery_low = false;
  bool status_avr = false;
  bool status_ups_failed = false;
  bool status_ups_is_line_interactive = false;
  bool status_testing = false;
  bool status_shutdown = false;
  bool status_beeper = false;
  // True when the reply's flag word reached its eighth character, so that `status_beeper` was
  // read from the UPS rather than defaulted; a short or absent flag word says nothing about
  // the beeper.
  bool beeper_flag_carried = false;
  // A UPS served over the network: its primary has told every computer on it to shut down
  // (FSD). Never set by a UPS on a cable.
  bool forced_shutdown = false;

  bool operator==(const TUPSStatus&) const = default;
};

// A number in the 10-byte x87 extended-precision format, held as its bytes (64-bit significand
// with explicit integer bit, then sign and 15-bit exponent, least significant byte first), so
// that what is read from a file is written back unchanged.
struct Extended {
  std::array<uint8_t, 10> bytes{};

  // The value, rounded to the host's long double when that is narrower than 64 bits.
  long double ToLongDouble() const;
  double ToDouble() const { return static_cast<double>(ToLongDouble()); }
  // Exact when long double has a 64-bit significand and 15-bit exponent (x86-64).
  static Extended FromLongDouble(long double value);

  bool operator==(const Extended&) const = default;
};

// The decimal conversion of the reply words: optional leading blanks, an optional sign,
// digits with an optional "." fraction, an optional "E"/"e" exponent with optional sign; the
// whole text must be consumed. "." is the decimal point whatever the locale. The result is
// the text rounded correctly (half to even) to the 64-bit significand. Anything else, and a
// value beyond the format's range, gives false and leaves `out` untouched.
bool TextToExtended(std::string_view text, Extended& out);
// The same conversion with 0 for anything that is not a number.
Extended DecimalToExtended(std::string_view text);
// The same conversion, as a long double (0 when the text is not a number).
long double DecimalToLongDouble(std::string_view text);

// Signed 32-bit integer conversion with default 0: empty, not an integer (a fraction
// included) or out of range gives 0.
int32_t IntegerOrZero(std::string_view text);

// One sample in numeric form with its time stamp. Its file form is exactly 112 bytes
// (EncodeStatusRaw); padding there is always zero.
struct TUPSStatusRaw {
  uint32_t time = 0;
  Extended IP_voltage;
  Extended IP_fault_voltage;
  Extended OP_voltage;
  int32_t OP_current = 0;
  Extended OP_frequency;
  Extended battery_voltage;
  Extended temp;
  bool status_using_battery = false;
  bool status_battery_low = false;
  bool status_avr = false;
  bool status_ups_failed = false;
  bool status_ups_is_line_interactive = false;
  bool status_testing = false;
  bool status_shutdown = false;
  bool status_beeper = false;

  bool operator==(const TUPSStatusRaw&) const = default;
};

using TUPSStatusRawData = std::vector<TUPSStatusRaw>;

constexpr size_t kStatusRawSize = 112;
using StatusRawBytes = std::array<uint8_t, kStatusRawSize>;

// The file layout: little-endian, padding bytes zero, booleans 0 or 1.
StatusRawBytes EncodeStatusRaw(const TUPSStatusRaw& raw);
// Reads a record from 112 bytes; a boolean byte other than 0 reads as true.
TUPSStatusRaw DecodeStatusRaw(const uint8_t* bytes);

// The time stamp of a local wall-clock moment given in milliseconds since 1970-01-01 00:00:00
// local: the seconds rounded to nearest (a tie goes to the even second), low 32 bits kept.
uint32_t TimeStampFromLocalMilliseconds(int64_t local_ms);

// Fills the numeric record from the texts and flags of a status, with the given time stamp.
TUPSStatusRaw StatusToRaw(const TUPSStatus& status, uint32_t time);

}  // namespace qelta
