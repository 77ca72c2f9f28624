#pragma once

namespace qelta {

// Powers the computer off at the end of the battery countdown: first obtain the right to shut
// the system down, then power off at once, closing applications without asking. Failures are not
// reported; the caller keeps running either way.
class PowerControl {
 public:
  virtual ~PowerControl() = default;
  virtual void EnableShutdownPrivilege() = 0;
  virtual void PowerOff() = 0;
};

}  // namespace qelta
