#include "monitor/handler_guard.h"

#include <exception>

#include "settings/settings.h"

namespace qelta {

void RunGuarded(ErrorReporter& reporter, const std::function<void()>& handler) {
  try {
    handler();
  } catch (const StoreError& error) {
    reporter.ShowError(QString::fromUtf8(error.what()));
  } catch (const std::exception& error) {
    reporter.ShowError(QString::fromUtf8(error.what()));
  }
}

std::function<void()> Guarded(ErrorReporter& reporter, std::function<void()> handler) {
  return [&reporter, handler = std::move(handler)] { RunGuarded(reporter, handler); };
}

}  // namespace qelta
