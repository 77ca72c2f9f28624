#pragma once

namespace qelta {

// Tells the user that the program is busy and does not take input (a wait cursor).
class BusyIndicator {
 public:
  virtual ~BusyIndicator() = default;
  virtual void SetBusy(bool busy) = 0;
};

// The application's wait cursor over all its windows.
class WaitCursor : public BusyIndicator {
 public:
  ~WaitCursor() override;
  void SetBusy(bool busy) override;

 private:
  bool busy_ = false;
};

}  // namespace qelta
