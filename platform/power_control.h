#pragma once

#include <functional>
#include <string>

namespace qelta {

// What became of one power-off request.
struct PowerOffOutcome {
  // The system accepted the request and is going down.
  bool accepted = false;
  // Why the computer was not powered off (the system's own words, UTF-8); empty when accepted.
  std::string reason;
};

// Powers the computer off at the end of the battery countdown: first obtain the right to shut
// the system down, then power off at once, closing applications without asking. The power-off is
// asked for whatever the first step gave; the system refuses what it must, and says so in the
// outcome.
class PowerControl {
 public:
  using Done = std::function<void(const PowerOffOutcome&)>;

  virtual ~PowerControl() = default;
  virtual void EnableShutdownPrivilege() = 0;
  // Requests the power-off. `done` is called exactly once with the outcome, on the UI thread,
  // possibly before this returns; it is not called if this object is destroyed first.
  virtual void PowerOff(Done done) = 0;
};

}  // namespace qelta
