#pragma once

#include <functional>

namespace qelta {

// Tells when something watched (a file, the desktop) may have changed, so that its reader need
// not look again and again.
class ChangeNotice {
 public:
  virtual ~ChangeNotice() = default;
  // True while every change is told through the handler. While it is false the reader must
  // look for itself; the watch may try to set itself up again at each call.
  virtual bool TellsEveryChange() = 0;
  // Called on the UI thread after a change may have happened, and whenever TellsEveryChange()
  // may have changed.
  virtual void SetChangeHandler(std::function<void()> handler) = 0;
};

}  // namespace qelta
