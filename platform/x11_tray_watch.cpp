#include "platform/x11_tray_watch.h"

#include <cstdlib>
#include <cstring>

namespace qelta {

X11TrayWatch::X11TrayWatch(const std::string& display) : connection_(display) {
  if (!connection_.Connected()) return;
  xcb_connection_t* c = connection_.Raw();
  manager_ = Atom("MANAGER");
  selection_ = Atom(("_NET_SYSTEM_TRAY_S" + std::to_string(connection_.ScreenNumber())).c_str());
  // Checked, so that the selection is in force before the caller first looks for a tray.
  const uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
  xcb_generic_error_t* error = xcb_request_check(
      c, xcb_change_window_attributes_checked(c, connection_.Root(), XCB_CW_EVENT_MASK, &mask));
  ready_ = error == nullptr && manager_ != XCB_ATOM_NONE && selection_ != XCB_ATOM_NONE;
  std::free(error);
  connection_.SetListener([this](const xcb_generic_event_t& event) { OnEvent(event); });
  connection_.SetBrokenHandler([this] {
    ready_ = false;
    if (handler_) handler_();
  });
}

xcb_atom_t X11TrayWatch::Atom(const char* name) {
  xcb_connection_t* c = connection_.Raw();
  xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
      c, xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
  const xcb_atom_t atom = reply != nullptr ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
  std::free(reply);
  return atom;
}

bool X11TrayWatch::TrayOwned() {
  if (!ready_ || !connection_.Connected()) return false;
  xcb_connection_t* c = connection_.Raw();
  xcb_get_selection_owner_reply_t* reply =
      xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, selection_), nullptr);
  const bool owned = reply != nullptr && reply->owner != XCB_WINDOW_NONE;
  std::free(reply);
  return owned;
}

void X11TrayWatch::OnEvent(const xcb_generic_event_t& event) {
  if ((event.response_type & 0x7F) != XCB_CLIENT_MESSAGE) return;
  const auto& message = reinterpret_cast<const xcb_client_message_event_t&>(event);
  if (message.type != manager_ || message.format != 32) return;
  if (message.data.data32[1] != selection_) return;
  if (handler_) handler_();
}

}  // namespace qelta
