#include "platform/display_check.h"

#include <xcb/xcb.h>

#include <cstdlib>

namespace qelta {
namespace {

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

}  // namespace

std::string MissingDisplayReason(bool platform_named) {
  if (platform_named || !Environment("QT_QPA_PLATFORM").empty() ||
      !Environment("WAYLAND_DISPLAY").empty()) {
    return {};
  }
  const std::string display = Environment("DISPLAY");
  if (display.empty()) {
    return "нет графического сеанса (не заданы ни DISPLAY, ни WAYLAND_DISPLAY): запустите "
           "программу в сеансе рабочего стола.";
  }
  xcb_connection_t* connection = xcb_connect(display.c_str(), nullptr);
  const bool reachable = xcb_connection_has_error(connection) == 0;
  xcb_disconnect(connection);
  if (reachable) return {};
  return "нет связи с дисплеем " + display + ": запустите программу в сеансе рабочего стола.";
}

}  // namespace qelta
