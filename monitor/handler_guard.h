#pragma once

#include <functional>

#include "platform/error_reporter.h"

namespace qelta {

// Runs an event handler (timer, menu, button). Exceptions must not cross Qt's event loop, so a
// failure that ends the handler (a StoreError, or as a last resort any other std::exception)
// is caught here and shown once through the reporter; the program goes on with the next event.
void RunGuarded(ErrorReporter& reporter, const std::function<void()>& handler);

// The handler wrapped in RunGuarded, ready to be connected to a signal or set on a timer. The
// reporter must outlive the returned function.
std::function<void()> Guarded(ErrorReporter& reporter, std::function<void()> handler);

}  // namespace qelta
