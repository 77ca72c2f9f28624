#include "network/served_variables.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <ctime>

#include "display/info_text.h"

namespace qelta {
namespace {

constexpr const char* kProgramVersion = "0.99.6";

std::string PollTimeText(uint32_t seconds) {
  // The stamp counts local wall-clock seconds as if they were UTC: read it back the same way.
  const std::time_t t = static_cast<std::time_t>(seconds);
  std::tm parts{};
  gmtime_r(&t, &parts);
  char buffer[32];
  std::strftime(buffer, sizeof buffer, "%Y-%m-%d %H:%M:%S", &parts);
  return buffer;
}

double NumberOf(const std::string& text) {
  double value = 0;
  std::from_chars(text.data(), text.data() + text.size(), value);
  return value;
}

}  // namespace

std::string ProtocolNumber(const std::string& text) {
  std::string_view s = text;
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  if (s.empty()) return {};
  // Only digits, one optional sign and one optional dot: no exponent, no comma, no "inf".
  size_t dot = std::string_view::npos;
  for (size_t i = 0; i < s.size(); ++i) {
    const char c = s[i];
    if (c >= '0' && c <= '9') continue;
    if (c == '-' && i == 0) continue;
    if (c == '.' && dot == std::string_view::npos) {
      dot = i;
      continue;
    }
    return {};
  }
  double value = 0;
  const auto [end, error] = std::from_chars(s.data(), s.data() + s.size(), value);
  if (error != std::errc() || end != s.data() + s.size() || !std::isfinite(value)) return {};
  const int decimals =
      dot == std::string_view::npos ? 0 : std::min<int>(3, static_cast<int>(s.size() - dot - 1));
  char buffer[64];
  const auto result =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
  if (result.ec != std::errc()) return {};
  std::string out(buffer, result.ptr);
  if (out.starts_with("-") && out.find_first_not_of("-0.") == std::string::npos) out.erase(0, 1);
  return out;
}

std::string StatusWords(const TUPSStatus& status, bool forced_shutdown) {
  std::string words = status.status_using_battery ? "OB" : "OL";
  if (status.status_battery_low) words += " LB";
  if (status.status_avr) {
    if (status.status_ups_is_line_interactive) {
      // Regulation lifts a low input and lowers a high one.
      const std::string in = ProtocolNumber(status.IP_voltage);
      const std::string out = ProtocolNumber(status.OP_voltage);
      const bool lowers = !in.empty() && !out.empty() && NumberOf(in) > NumberOf(out);
      words += lowers ? " TRIM" : " BOOST";
    } else {
      words += " BYPASS";
    }
  }
  if (status.status_testing) words += " CAL";
  if (status.status_ups_failed) words += " ALARM";
  if (forced_shutdown) words += " FSD";
  return words;
}

const std::vector<std::string>& InstantCommandNames() {
  static const std::vector<std::string> names{"beeper.disable", "beeper.enable", "beeper.toggle",
                                              "test.battery.start.quick"};
  return names;
}

std::vector<ServedVariable> ServedVariables(const TUPSStatus& status, uint32_t poll_time,
                                            bool forced_shutdown) {
  std::vector<ServedVariable> vars;
  auto text = [&](const char* name, std::string value) {
    vars.push_back({name, std::move(value), false});
  };
  auto number = [&](const char* name, const std::string& reading) {
    std::string value = ProtocolNumber(reading);
    if (!value.empty()) vars.push_back({name, std::move(value), true});
  };
  number("battery.voltage", status.battery_voltage);
  vars.push_back({"battery.charge",
                  std::to_string(BatteryChargePercentInteger(status.battery_voltage)), true});
  text("device.mfr", "QELTA");
  text("device.model", "QELTA UPS");
  text("device.type", "ups");
  text("driver.lastpoll", PollTimeText(poll_time));
  text("driver.name", "qelta-monitor");
  text("driver.version", kProgramVersion);
  number("input.frequency", status.OP_frequency);
  number("input.voltage", status.IP_voltage);
  number("input.voltage.fault", status.IP_fault_voltage);
  number("output.voltage", status.OP_voltage);
  if (status.beeper_flag_carried) {
    text("ups.beeper.status", status.status_beeper ? "enabled" : "disabled");
  }
  number("ups.load", status.OP_current);
  text("ups.mfr", "QELTA");
  text("ups.model", "QELTA UPS");
  text("ups.status", StatusWords(status, forced_shutdown));
  number("ups.temperature", status.temp);
  text("ups.type", status.status_ups_is_line_interactive ? "offline / line interactive" : "online");
  std::sort(vars.begin(), vars.end(),
            [](const ServedVariable& a, const ServedVariable& b) { return a.name < b.name; });
  return vars;
}

}  // namespace qelta
