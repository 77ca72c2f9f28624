#include "tools/upssim/ups_model.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <vector>

namespace qelta::upssim {

namespace {

constexpr double kOutputVoltageMains = 220.1;
constexpr double kOutputVoltageBattery = 220.0;
constexpr double kFrequencyMains = 50.1;
constexpr double kFrequencyBattery = 50.0;
constexpr double kBatteryLowVoltage = 10.8;
constexpr double kAvrLow = 200.0;
constexpr double kAvrHigh = 240.0;
constexpr auto kTestLength = std::chrono::seconds(10);

// Noise as a line at the wrong speed would bring it: no "(" first, ended by a CR.
constexpr char kGarbage[] = "\xf8\x86~\x80\xe6\x9e\x18\xfe\x86\x9e\r";

bool ParseNumber(const std::string& text, double low, double high, double& out) {
  if (text.empty()) return false;
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (end != text.c_str() + text.size() || !(value >= low && value <= high)) return false;
  out = value;
  return true;
}

const char* AnswerName(SimulatedUps::Answer answer) {
  switch (answer) {
    case SimulatedUps::Answer::Normal:
      return "normal";
    case SimulatedUps::Answer::Silent:
      return "silent";
    case SimulatedUps::Answer::Garbage:
      return "garbage";
    case SimulatedUps::Answer::Blank:
      return "blank";
    case SimulatedUps::Answer::Bare:
      return "bare";
    case SimulatedUps::Answer::CrLf:
      return "crlf";
    case SimulatedUps::Answer::Partial:
      return "partial";
    case SimulatedUps::Answer::Endless:
      return "endless";
  }
  return "?";
}

}  // namespace

std::string SimulatedUps::Help() {
  return "Commands (on standard input, one per line; also as --command[=value] options):\n"
         "  mains            mains power present (the default)\n"
         "  battery          mains failed: the load runs on the battery\n"
         "  drain VOLTS/S    battery voltage falls at this rate while on battery (0 stops)\n"
         "  battv VOLTS      set the battery voltage (13.50 at start; low below 10.80)\n"
         "  input VOLTS      set the mains voltage (218.5; AVR outside 200-240)\n"
         "  load PERCENT     set the output load (23)\n"
         "  temp CELSIUS     set the temperature (27.0)\n"
         "  normal           answer the status query normally\n"
         "  silent           answer nothing at all (a switched-off UPS)\n"
         "  garbage          answer the status query with line noise\n"
         "  blank            answer with a space before the \"(\"\n"
         "  bare             answer with \"(\" alone\n"
         "  crlf             answer with CR LF before and after the status line\n"
         "  partial          answer with the first half of the status line and no line end\n"
         "                   (a reply cut short)\n"
         "  endless          answer with a line that never ends: the status line over and over\n"
         "                   without a line end, until the next command (on the line or here)\n"
         "  delay MS         start every answer MS milliseconds after the command (0 at start;\n"
         "                   real UPSes take 100-200)\n"
         "  pace real        send replies at 2400 baud, about 4.2 ms a byte (the default)\n"
         "  pace instant     send replies at once\n"
         "  pace MS          send replies a byte every MS milliseconds (a slow line)\n"
         "  print            print the state and the reply the UPS would send now\n"
         "  quit             end the simulator\n"
         "Every command line is answered by one line: \"ok\", \"error: ...\" or the state.\n";
}

bool SimulatedUps::TakesValue(const std::string& name) {
  return name == "drain" || name == "battv" || name == "input" || name == "load" ||
         name == "temp" || name == "pace" || name == "delay";
}

void SimulatedUps::Advance(Clock::time_point now) {
  if (now <= last_update_) return;
  const double seconds = std::chrono::duration<double>(now - last_update_).count();
  last_update_ = now;
  if (on_battery_ && drain_rate_ > 0) {
    battery_voltage_ -= drain_rate_ * seconds;
    if (battery_voltage_ < 0) battery_voltage_ = 0;
  }
}

std::string SimulatedUps::StatusReply(Clock::time_point now) {
  Advance(now);
  const double input = on_battery_ ? 0.0 : mains_voltage_;
  const bool avr = !on_battery_ && (mains_voltage_ < kAvrLow || mains_voltage_ > kAvrHigh);
  const bool testing = now < testing_until_;
  const bool flags[8] = {
      on_battery_, battery_voltage_ < kBatteryLowVoltage, avr, false, true, testing, false,
      beeper_};
  std::string flag_text;
  for (bool f : flags) flag_text += f ? '1' : '0';
  char line[128];
  std::snprintf(line, sizeof line, "(%05.1f %05.1f %05.1f %03d %04.1f %05.2f %04.1f %s\r", input,
                fault_voltage_, on_battery_ ? kOutputVoltageBattery : kOutputVoltageMains, load_,
                on_battery_ ? kFrequencyBattery : kFrequencyMains, battery_voltage_, temperature_,
                flag_text.c_str());
  return line;
}

SimulatedUps::Reply SimulatedUps::OnUpsCommand(const std::string& command, Clock::time_point now) {
  Reply reply;
  reply.start = now + reply_delay_;
  if (answer_ == Answer::Silent) return reply;
  if (command == "Q1") {
    switch (answer_) {
      case Answer::Garbage:
        reply.bytes = kGarbage;
        break;
      case Answer::Blank:
        reply.bytes = " " + StatusReply(now);
        break;
      case Answer::Bare:
        reply.bytes = "(\r";
        break;
      case Answer::CrLf:
        reply.bytes = "\r\n" + StatusReply(now) + "\n";
        break;
      case Answer::Partial: {
        const std::string line = StatusReply(now);
        reply.bytes = line.substr(0, line.size() / 2);
        break;
      }
      case Answer::Endless: {
        reply.bytes = StatusReply(now);
        reply.bytes.back() = ' ';  // the CR
        reply.repeat = true;
        break;
      }
      default:
        reply.bytes = StatusReply(now);
        break;
    }
    return reply;
  }
  if (command == "T") {
    testing_until_ = now + kTestLength;
  } else if (command == "Q") {
    beeper_ = !beeper_;
  }
  return reply;
}

std::string SimulatedUps::State(Clock::time_point now) {
  std::string reply = StatusReply(now);
  reply.pop_back();  // the CR
  std::string pace = "instant";
  if (byte_time_ == kRealByteTime) {
    pace = "real";
  } else if (byte_time_ > Clock::duration::zero()) {
    pace =
        std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(byte_time_).count()) +
        "ms";
  }
  char line[320];
  std::snprintf(line, sizeof line,
                "state: answer=%s pace=%s delay=%lldms power=%s battv=%.3f drain=%.3f beeper=%d "
                "testing=%d reply=%s",
                AnswerName(answer_), pace.c_str(), static_cast<long long>(reply_delay_.count()),
                on_battery_ ? "battery" : "mains", battery_voltage_, drain_rate_, beeper_ ? 1 : 0,
                now < testing_until_ ? 1 : 0, reply.c_str());
  return line;
}

std::string SimulatedUps::OnControl(const std::string& line, Clock::time_point now) {
  std::istringstream in(line);
  std::vector<std::string> words;
  for (std::string w; in >> w;) words.push_back(w);
  if (words.empty()) return "error: empty command";
  const std::string& name = words[0];
  Advance(now);

  static const char* const kKnown[] = {"mains", "battery", "drain",  "battv",   "input",
                                       "load",  "temp",    "normal", "silent",  "garbage",
                                       "blank", "bare",    "crlf",   "partial", "endless",
                                       "delay", "pace",    "print",  "quit",    "help"};
  bool known = false;
  for (const char* k : kKnown) known = known || name == k;
  if (!known) return "error: unknown command " + name;
  const bool takes_value = TakesValue(name);
  if (words.size() != (takes_value ? 2u : 1u)) {
    return takes_value ? "error: " + name + " needs one value"
                       : "error: " + name + " takes no value";
  }

  double value = 0;
  auto number = [&](double low, double high) { return ParseNumber(words[1], low, high, value); };
  if (name == "mains") {
    on_battery_ = false;
  } else if (name == "battery") {
    if (!on_battery_) fault_voltage_ = mains_voltage_;
    on_battery_ = true;
  } else if (name == "drain") {
    if (!number(0, 1000)) return "error: drain needs a rate from 0 to 1000 volts per second";
    drain_rate_ = value;
  } else if (name == "battv") {
    if (!number(0, 99.99)) return "error: battv needs a voltage from 0 to 99.99";
    battery_voltage_ = value;
  } else if (name == "input") {
    if (!number(0, 999.9)) return "error: input needs a voltage from 0 to 999.9";
    mains_voltage_ = value;
    if (!on_battery_) fault_voltage_ = value;
  } else if (name == "load") {
    if (!number(0, 999) || value != static_cast<int>(value)) {
      return "error: load needs a whole percentage from 0 to 999";
    }
    load_ = static_cast<int>(value);
  } else if (name == "temp") {
    if (!number(-99.9, 999.9)) return "error: temp needs degrees from -99.9 to 999.9";
    temperature_ = value;
  } else if (name == "normal") {
    answer_ = Answer::Normal;
  } else if (name == "silent") {
    answer_ = Answer::Silent;
  } else if (name == "garbage") {
    answer_ = Answer::Garbage;
  } else if (name == "blank") {
    answer_ = Answer::Blank;
  } else if (name == "bare") {
    answer_ = Answer::Bare;
  } else if (name == "crlf") {
    answer_ = Answer::CrLf;
  } else if (name == "partial") {
    answer_ = Answer::Partial;
  } else if (name == "endless") {
    answer_ = Answer::Endless;
  } else if (name == "delay") {
    if (!number(0, 10000) || value != static_cast<int>(value)) {
      return "error: delay needs whole milliseconds from 0 to 10000";
    }
    reply_delay_ = std::chrono::milliseconds(static_cast<int>(value));
  } else if (name == "pace") {
    if (words[1] == "real") {
      byte_time_ = kRealByteTime;
    } else if (words[1] == "instant") {
      byte_time_ = Clock::duration::zero();
    } else if (number(1, 1000) && value == static_cast<int>(value)) {
      byte_time_ = std::chrono::milliseconds(static_cast<int>(value));
    } else {
      return "error: pace is real, instant or whole milliseconds a byte from 1 to 1000";
    }
  } else if (name == "print") {
    return State(now);
  } else if (name == "quit") {
    quit_ = true;
  } else if (name == "help") {
    return "ok (see --help)";
  }
  return "ok";
}

}  // namespace qelta::upssim
