#pragma once

#include <functional>
#include <memory>

#include "platform/timer.h"

namespace qelta {

class ProtocolServer;

// The other computers on this UPS, as the battery policy's power-off sees them.
class OtherComputers {
 public:
  virtual ~OtherComputers() = default;
  // Sets the forced-shutdown flag, then calls `done` once every client that did LOGIN has
  // logged out or gone, or once the wait limit has passed; at once when none is logged in.
  virtual void ShutDownThen(std::function<void()> done) = 0;
  // True while waiting for them.
  virtual bool Waiting() const = 0;
  // Logged-in clients still up.
  virtual int Left() const = 0;
  // Mains returned before the power-off was asked for: the flag is cleared and `done` is never
  // called. True when the flag was set. After the power-off was asked for it does nothing.
  virtual bool Cancel() = 0;
};

// OtherComputers over the protocol server: FSD in ups.status, the login count as the clients
// that are still up, a wait of at most `wait_ms()` milliseconds.
class SecondaryShutdown : public OtherComputers {
 public:
  SecondaryShutdown(ProtocolServer& server, TimerFactory& timers, std::function<int()> wait_ms);

  void ShutDownThen(std::function<void()> done) override;
  bool Waiting() const override { return static_cast<bool>(done_); }
  int Left() const override;
  bool Cancel() override;

 private:
  void Check();
  void Finish();

  ProtocolServer& server_;
  std::function<int()> wait_ms_;
  std::unique_ptr<Timer> check_timer_;
  std::unique_ptr<Timer> limit_timer_;
  std::function<void()> done_;
  bool power_off_sent_ = false;
};

}  // namespace qelta
