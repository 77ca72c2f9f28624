#pragma once

#include <chrono>
#include <string>

namespace qelta::upssim {

// The state of the simulated UPS and what it answers. Time is passed in, so the battery drain
// and the self-test period follow the caller's clock.
class SimulatedUps {
 public:
  using Clock = std::chrono::steady_clock;

  // How the UPS answers the status query.
  enum class Answer { Normal, Silent, Garbage, Blank, Bare };

  explicit SimulatedUps(Clock::time_point now) : last_update_(now) {}

  // One command received on the line, without its CR. Returns the bytes to send back (empty
  // for none).
  std::string OnUpsCommand(const std::string& command, Clock::time_point now);

  // One control command ("battery", "drain 0.2", ...). Returns one line (without line end)
  // for the operator: "ok", "error: ...", or the state for "print".
  std::string OnControl(const std::string& line, Clock::time_point now);

  // The status reply as the UPS sends it now, CR included.
  std::string StatusReply(Clock::time_point now);

  bool QuitRequested() const { return quit_; }
  bool RealPace() const { return real_pace_; }

  static std::string Help();
  // True for the control commands that take one value ("drain 0.2").
  static bool TakesValue(const std::string& name);

 private:
  void Advance(Clock::time_point now);
  std::string State(Clock::time_point now);

  Clock::time_point last_update_;
  Answer answer_ = Answer::Normal;
  bool real_pace_ = true;
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
