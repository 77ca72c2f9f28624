#pragma once

#include <QString>

namespace qelta {

// The application's error box: tells the user about a failure that ended an event handler.
class ErrorReporter {
 public:
  virtual ~ErrorReporter() = default;
  virtual void ShowError(const QString& message) = 0;
};

}  // namespace qelta
