#include "link/modems.h"

#include <array>
#include <string_view>

#include "link/ups.h"
#include "platform/wall_clock.h"
#include "settings/settings.h"

namespace qelta {

namespace {

constexpr int kBaud = 2400;
constexpr int kReplyTimeoutMs = 300;

// The first eight space-separated words of `text`; runs of spaces count as one separator,
// leading spaces are ignored and missing words are empty.
std::array<std::string_view, 8> SplitWords(std::string_view text) {
  std::array<std::string_view, 8> words{};
  size_t pos = 0;
  for (std::string_view& word : words) {
    pos = text.find_first_not_of(' ', pos);
    if (pos == std::string_view::npos) break;
    size_t end = text.find(' ', pos);
    if (end == std::string_view::npos) end = text.size();
    word = text.substr(pos, end - pos);
    pos = end;
  }
  return words;
}

}  // namespace

TUPSStatus ParseStatusReply(const std::string& reply) {
  std::string_view rest = reply;
  if (!rest.empty() && rest.front() == '(') rest.remove_prefix(1);
  // A USB reply still carries its line end; take one CR or LF off.
  if (!rest.empty() && (rest.back() == '\r' || rest.back() == '\n')) rest.remove_suffix(1);
  const std::array<std::string_view, 8> words = SplitWords(rest);

  TUPSStatus status;
  status.IP_voltage = words[0];
  status.IP_fault_voltage = words[1];
  status.OP_voltage = words[2];
  status.OP_current = words[3];
  status.OP_frequency = words[4];
  status.battery_voltage = words[5];
  status.temp = words[6];
  const std::string_view flags = words[7];
  auto flag = [&flags](size_t i) { return i < flags.size() && flags[i] == '1'; };
  status.status_using_battery = flag(0);
  status.status_battery_low = flag(1);
  status.status_avr = flag(2);
  status.status_ups_failed = flag(3);
  status.status_ups_is_line_interactive = flag(4);
  status.status_testing = flag(5);
  status.status_shutdown = flag(6);
  status.status_beeper = flag(7);
  status.beeper_flag_carried = flags.size() >= 8;
  return status;
}

std::string UpsProtocol::StoredPort() {
  return settings_.ReadString("Settings", "Port", "COM1");
}

bool UpsProtocol::QueryUPSStatus(TUPSStatus& status, TUPSStatusRaw& raw) {
  const std::string port = port_override_.empty() ? StoredPort() : port_override_;
  if (!transport_.OpenUPSPort(port, kBaud)) return false;
  transport_.WriteUPSPort("Q1\r");  // a failed write shows as a missing reply
  const std::string reply = transport_.ReadUPSPort(kReplyTimeoutMs);
  if (reply.empty() || reply.front() != '(') {
    transport_.CloseUPSPort();
    return false;
  }
  status = ParseStatusReply(reply);
  raw = StatusToRaw(status, TimeStampFromLocalMilliseconds(clock_.LocalMillisecondsSinceEpoch()));
  transport_.CloseUPSPort();
  return true;
}

bool UpsProtocol::SendCommand(const std::string& command) {
  if (!transport_.OpenUPSPort(StoredPort(), kBaud)) return false;
  transport_.WriteUPSPort(command);  // no reply is expected, so the outcome is not known
  transport_.CloseUPSPort();
  return true;
}

bool UpsProtocol::PerformUPSTest() {
  return SendCommand("T\r");
}

bool UpsProtocol::ToggleUPSBeeper() {
  return SendCommand("Q\r");
}

}  // namespace qelta
