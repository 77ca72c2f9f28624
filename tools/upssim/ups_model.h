#pragma once

#include <chrono>
#include <string>

namespace qelta::upssim {

// The state of the simulated UPS and what it answers. Time is passed in, so the battery drain
// and the self-test period follow the caller's clock.
class SimulatedUps {
 public:
  using Clock = std::chrono::steady_clock;
  // One byte on a 2400-baud 8N1 line: start bit, 8 data bits, stop bit.
  static constexpr std::chrono::nanoseconds kRealByteTime{10 * 1'000'000'000LL / 2400};

  // How the UPS answers the status query.
  enum class Answer { Normal, Silent, Garbage, Blank, Bare, CrLf, Partial, Endless };

  // What goes back on the line for one command.
  struct Reply {
    std::string bytes;          // empty for none
    bool repeat = false;        // sent over and over until the next command comes in
    Clock::time_point start{};  // when the first byte goes out
  };

  explicit SimulatedUps(Clock::time_point now) : last_update_(now) {}

  // One command received on the line at `now`, without its CR.
  Reply OnUpsCommand(const std::string& command, Clock::time_point now);

  // One control command ("battery", "drain 0.2", ...). Returns one line (without line end)
  // for the operator: "ok", "error: ...", or the state for "print".
  std::string OnControl(const std::string& line, Clock::time_point now);

  // The status reply as the UPS sends it now, CR included.
  std::string StatusReply(Clock::time_point now);

  bool QuitRequested() const { return quit_; }
  // The time one byte takes on the line; zero when replies go out at once.
  Clock::duration ByteTime() const { return byte_time_; }

  static std::string Help();
  // True for the control commands that take one value ("drain 0.2").
  static bool TakesValue(const std::string& name);

 private:
  void Advance(Clock::time_point now);
  std::string State(Clock::time_point now);

  Clock::time_point last_update_;
  Answer answer_ = Answer::Normal;
  Clock::duration byte_time_ = kRealByteTime;
  std::chrono::milliseconds reply_delay_{0};
  bool quit_ = false;

  bool on_battery_ = false;
  double mains_voltage_ = 218.5;
  double fault_voltage_ = 218.5;
  double battery_voltage_ = 13.5;
  double drain_rate_ = 0.0;  // volts per second while on battery
  int load_ = 23;
  double temperature_ = 27.0;
  bool beeper_ = true;
  Clock::time_point testing_until_{};
};

}  // namespace qelta::upssim
