// The status query end to end over stand-in serial and USB branches that deliver the input as
// the UPS's reply: whether the reply is accepted, how it is split into words and flags, the
// numeric record made from it, and that record's 112-byte file form.
//
// The expectations are worked out here from the protocol itself: a reply is taken when its
// line begins with "("; the "(" and one trailing CR or LF are dropped and the rest is split at
// runs of blanks into eight words, the eighth being the flag characters in order.

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "link/modems.h"
#include "link/status_records.h"
#include "link/ups.h"
#include "platform/wall_clock.h"
#include "settings/settings.h"

namespace {

using qelta::TUPSStatus;
using qelta::TUPSStatusRaw;

std::string_view current_input;

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "%s (reply of %zu bytes: \"%.*s\")\n", what, current_input.size(),
               static_cast<int>(current_input.size() < 300 ? current_input.size() : 300),
               current_input.data());
  std::abort();
}

// A serial port whose reply is the input: its first line without the CR, or nothing when no
// whole line came.
class ReplyingSerial : public qelta::SerialBranch {
 public:
  explicit ReplyingSerial(std::string_view reply) : reply_(reply) {}
  bool OpenSerialPort(const std::string&, int) override { return true; }
  bool WriteSerialPort(const std::string&) override { return true; }
  std::string ReadSerialPort(int) override {
    const size_t end = reply_.find('\r');
    return end == std::string_view::npos ? std::string() : std::string(reply_.substr(0, end));
  }
  void CloseSerialPort() override {}

 private:
  std::string_view reply_;
};

// The UPS's HID device whose reply is the input: its first line with the CR when a whole line
// came, else a failed read holding what came.
class ReplyingHid : public qelta::HidBranch {
 public:
  explicit ReplyingHid(std::string_view reply) : reply_(reply) {}
  bool OpenHIDPort(std::string&) override { return true; }
  bool WriteHIDPort(const std::string&) override { return true; }
  bool ReadHIDPort(int, std::string& text) override {
    const size_t end = reply_.find('\r');
    text = std::string(reply_.substr(0, end == std::string_view::npos ? end : end + 1));
    return end != std::string_view::npos;
  }
  void CloseHIDPort() override {}

 private:
  std::string_view reply_;
};

// Settings that hold only the port name.
class PortOnlySettings : public qelta::Settings {
 public:
  explicit PortOnlySettings(std::string port) : port_(std::move(port)) {}
  std::string ReadString(const std::string& section, const std::string& key,
                         const std::string& def) override {
    return section == "Settings" && key == "Port" ? port_ : def;
  }
  int32_t ReadInteger(const std::string&, const std::string&, int32_t def) override { return def; }
  bool ReadBool(const std::string&, const std::string&, bool def) override { return def; }
  void WriteString(const std::string&, const std::string&, const std::string&) override {}
  void WriteInteger(const std::string&, const std::string&, int32_t) override {}
  void WriteBool(const std::string&, const std::string&, bool) override {}
  void DeleteValue(const std::string&, const std::string&) override {}

 private:
  std::string port_;
};

// The words of a reply line as the protocol describes them.
std::array<std::string, 8> ExpectedWords(std::string_view line) {
  if (!line.empty() && line.front() == '(') line.remove_prefix(1);
  if (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
  std::array<std::string, 8> words;
  size_t count = 0;
  std::string word;
  for (size_t i = 0; i <= line.size() && count < words.size(); ++i) {
    if (i == line.size() || line[i] == ' ') {
      if (!word.empty()) words[count++] = word;
      word.clear();
    } else {
      word += line[i];
    }
  }
  return words;
}

// The seconds of a moment in milliseconds, rounded half to even, low 32 bits; exact in long
// double for the moments used here (below 2^53 ms in magnitude).
uint32_t ExpectedTime(int64_t ms) {
  const long double seconds = std::nearbyint(static_cast<long double>(ms) / 1000.0L);
  return static_cast<uint32_t>(static_cast<uint64_t>(static_cast<int64_t>(seconds)));
}

void CheckStatus(const TUPSStatus& status, std::string_view line) {
  const std::array<std::string, 8> words = ExpectedWords(line);
  const std::array<const std::string*, 7> texts = {
      &status.IP_voltage,   &status.IP_fault_voltage, &status.OP_voltage, &status.OP_current,
      &status.OP_frequency, &status.battery_voltage,  &status.temp};
  for (size_t i = 0; i < texts.size(); ++i) {
    if (*texts[i] != words[i]) Fail("a word of the reply was read wrongly");
  }
  const std::string& flags = words[7];
  const std::array<bool, 8> read = {status.status_using_battery,
                                    status.status_battery_low,
                                    status.status_avr,
                                    status.status_ups_failed,
                                    status.status_ups_is_line_interactive,
                                    status.status_testing,
                                    status.status_shutdown,
                                    status.status_beeper};
  for (size_t i = 0; i < read.size(); ++i) {
    if (read[i] != (i < flags.size() && flags[i] == '1')) Fail("a flag was read wrongly");
  }
  if (status.beeper_flag_carried != (flags.size() >= 8)) Fail("the beeper flag's presence");
}

void CheckRaw(const TUPSStatusRaw& raw, const TUPSStatus& status, uint32_t time) {
  using qelta::DecimalToExtended;
  if (raw.time != time) Fail("the record's time stamp");
  if (raw.IP_voltage != DecimalToExtended(status.IP_voltage) ||
      raw.IP_fault_voltage != DecimalToExtended(status.IP_fault_voltage) ||
      raw.OP_voltage != DecimalToExtended(status.OP_voltage) ||
      raw.OP_current != qelta::IntegerOrZero(status.OP_current) ||
      raw.OP_frequency != DecimalToExtended(status.OP_frequency) ||
      raw.battery_voltage != DecimalToExtended(status.battery_voltage) ||
      raw.temp != DecimalToExtended(status.temp)) {
    Fail("a number of the record does not come from its own word");
  }
  if (raw.status_using_battery != status.status_using_battery ||
      raw.status_battery_low != status.status_battery_low || raw.status_avr != status.status_avr ||
      raw.status_ups_failed != status.status_ups_failed ||
      raw.status_ups_is_line_interactive != status.status_ups_is_line_interactive ||
      raw.status_testing != status.status_testing ||
      raw.status_shutdown != status.status_shutdown || raw.status_beeper != status.status_beeper) {
    Fail("a flag of the record differs from the status");
  }
}

// The file form: fields at their offsets, little-endian, booleans 0 or 1, padding zero; and
// reading it back gives the record.
void CheckFileForm(const TUPSStatusRaw& raw) {
  const qelta::StatusRawBytes bytes = qelta::EncodeStatusRaw(raw);
  if (qelta::DecodeStatusRaw(bytes.data()) != raw) Fail("the file form does not read back");
  struct Field {
    size_t offset;
    const uint8_t* value;
    size_t size;
  };
  uint8_t time[4];
  uint8_t current[4];
  for (size_t i = 0; i < 4; ++i) {
    time[i] = static_cast<uint8_t>(raw.time >> (8 * i));
    current[i] = static_cast<uint8_t>(static_cast<uint32_t>(raw.OP_current) >> (8 * i));
  }
  const uint8_t flags[8] = {raw.status_using_battery,
                            raw.status_battery_low,
                            raw.status_avr,
                            raw.status_ups_failed,
                            raw.status_ups_is_line_interactive,
                            raw.status_testing,
                            raw.status_shutdown,
                            raw.status_beeper};
  const Field fields[] = {{0, time, 4},
                          {8, raw.IP_voltage.bytes.data(), 10},
                          {24, raw.IP_fault_voltage.bytes.data(), 10},
                          {40, raw.OP_voltage.bytes.data(), 10},
                          {52, current, 4},
                          {56, raw.OP_frequency.bytes.data(), 10},
                          {72, raw.battery_voltage.bytes.data(), 10},
                          {88, raw.temp.bytes.data(), 10},
                          {98, flags, 8}};
  std::array<bool, qelta::kStatusRawSize> covered{};
  for (const Field& field : fields) {
    if (std::memcmp(bytes.data() + field.offset, field.value, field.size) != 0) {
      Fail("a field of the file form is not where it belongs");
    }
    for (size_t i = 0; i < field.size; ++i) covered[field.offset + i] = true;
  }
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (!covered[i] && bytes[i] != 0) Fail("a padding byte of the file form is not zero");
  }
}

// Any 112 bytes read as a record and written again: padding zeroed, booleans made 0 or 1,
// everything else as it was.
void CheckDecodeOfAnyBytes(const uint8_t* data) {
  const qelta::StatusRawBytes again = qelta::EncodeStatusRaw(qelta::DecodeStatusRaw(data));
  constexpr size_t kPadding[][2] = {{4, 8},   {18, 24}, {34, 40},  {50, 52},
                                    {66, 72}, {82, 88}, {106, 112}};
  for (size_t i = 0; i < again.size(); ++i) {
    bool padding = false;
    for (const auto& range : kPadding) padding = padding || (i >= range[0] && i < range[1]);
    uint8_t expected = padding ? 0 : data[i];
    if (i >= 98 && i < 106) expected = data[i] != 0 ? 1 : 0;
    if (again[i] != expected) Fail("decoding and encoding any 112 bytes");
  }
}

void Query(const std::string& port, std::string_view reply, int64_t ms) {
  ReplyingSerial serial(reply);
  ReplyingHid hid(reply);
  qelta::UpsTransport transport(serial, hid);
  PortOnlySettings settings(port);
  qelta::FixedWallClock clock(ms);
  qelta::UpsProtocol protocol(transport, settings, clock);

  TUPSStatus status;
  status.IP_voltage = "untouched";
  status.status_avr = true;
  TUPSStatusRaw raw;
  raw.time = 0xDEADBEEF;
  raw.OP_current = -77;
  const TUPSStatus status_before = status;
  const TUPSStatusRaw raw_before = raw;

  const bool serial_port = port.starts_with("COM");
  const size_t end = reply.find('\r');
  std::string_view line;
  if (end != std::string_view::npos) line = reply.substr(0, serial_port ? end : end + 1);
  const bool answered = !line.empty() && line.front() == '(';

  if (protocol.QueryUPSStatus(status, raw) != answered) {
    Fail(answered ? "a reply beginning with \"(\" was refused" : "a non-reply was taken");
  }
  if (!answered) {
    if (status != status_before || raw != raw_before) Fail("a refused reply changed the records");
    return;
  }
  CheckStatus(status, line);
  CheckRaw(raw, status, ExpectedTime(ms));
  CheckFileForm(raw);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view reply(reinterpret_cast<const char*>(data), size);
  current_input = reply;
  // The clock moment comes from the reply's first bytes, within ±2^52 ms.
  int64_t ms = 1718100000500;
  if (size >= 8) {
    uint64_t bits = 0;
    std::memcpy(&bits, data, sizeof bits);
    ms = static_cast<int64_t>(bits & ((uint64_t{1} << 53) - 1)) - (int64_t{1} << 52);
  }
  Query("COM1", reply, ms);
  Query("USB", reply, ms);
  if (size >= qelta::kStatusRawSize) CheckDecodeOfAnyBytes(data);
  return 0;
}
