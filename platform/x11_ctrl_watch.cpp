#include "platform/x11_ctrl_watch.h"

#include <xcb/xinput.h>

#include <algorithm>
#include <cstdlib>

namespace qelta {
namespace {

// The replies of xcb, freed when they go out of scope.
template <typename T>
using Reply = std::unique_ptr<T, decltype(&std::free)>;

template <typename T>
Reply<T> Take(T* reply) {
  return Reply<T>(reply, &std::free);
}

constexpr int kControlModifierIndex = 2;  // Shift, Lock, Control, Mod1, ...

}  // namespace

std::unique_ptr<X11CtrlWatch> X11CtrlWatch::Open(const std::string& display) {
  auto connection = std::make_unique<X11EventConnection>(display);
  if (!connection->Connected()) return nullptr;
  xcb_connection_t* c = connection->Raw();
  const xcb_query_extension_reply_t* xinput = xcb_get_extension_data(c, &xcb_input_id);
  if (xinput == nullptr || !xinput->present) return nullptr;
  // Since 2.1 raw events come whatever client grabs the keyboard.
  auto version =
      Take(xcb_input_xi_query_version_reply(c, xcb_input_xi_query_version(c, 2, 2), nullptr));
  if (!version || version->major_version < 2 ||
      (version->major_version == 2 && version->minor_version < 1)) {
    return nullptr;
  }
  std::unique_ptr<X11CtrlWatch> watch(
      new X11CtrlWatch(std::move(connection), xinput->major_opcode));
  if (!watch->SelectRawKeyEvents()) return nullptr;
  watch->ReadControlKeys();
  watch->QueryKeyState();
  return watch;
}

X11CtrlWatch::X11CtrlWatch(std::unique_ptr<X11EventConnection> connection, uint8_t xinput_opcode)
    : connection_(std::move(connection)), xinput_opcode_(xinput_opcode) {
  connection_->SetListener([this](const xcb_generic_event_t& event) { OnEvent(event); });
  connection_->SetBrokenHandler([this] {
    down_ = false;
    if (handler_) handler_();
  });
}

bool X11CtrlWatch::SelectRawKeyEvents() {
  struct {
    xcb_input_event_mask_t head;
    uint32_t mask;
  } selection{};
  selection.head.deviceid = XCB_INPUT_DEVICE_ALL;
  selection.head.mask_len = 1;
  selection.mask = XCB_INPUT_XI_EVENT_MASK_RAW_KEY_PRESS | XCB_INPUT_XI_EVENT_MASK_RAW_KEY_RELEASE;
  xcb_connection_t* c = connection_->Raw();
  auto error = Take(xcb_request_check(
      c, xcb_input_xi_select_events_checked(c, connection_->Root(), 1, &selection.head)));
  return !error;
}

void X11CtrlWatch::ReadControlKeys() {
  xcb_connection_t* c = connection_->Raw();
  auto map = Take(xcb_get_modifier_mapping_reply(c, xcb_get_modifier_mapping(c), nullptr));
  control_keys_.clear();
  if (!map) return;
  const xcb_keycode_t* keys = xcb_get_modifier_mapping_keycodes(map.get());
  const int per_modifier = map->keycodes_per_modifier;
  for (int i = 0; i < per_modifier; ++i) {
    const xcb_keycode_t key = keys[kControlModifierIndex * per_modifier + i];
    if (key != 0) control_keys_.push_back(key);
  }
}

void X11CtrlWatch::QueryKeyState() {
  xcb_connection_t* c = connection_->Raw();
  auto pointer =
      Take(xcb_query_pointer_reply(c, xcb_query_pointer(c, connection_->Root()), nullptr));
  const bool down = pointer && (pointer->mask & XCB_MOD_MASK_CONTROL) != 0;
  if (down != down_) {
    down_ = down;
    if (handler_) handler_();
  }
  // Events that arrived meanwhile wait in xcb's queue, where the socket no longer shows them.
  connection_->DispatchEvents();
}

void X11CtrlWatch::OnEvent(const xcb_generic_event_t& event) {
  const uint8_t type = event.response_type & 0x7F;
  if (type == XCB_MAPPING_NOTIFY) {
    ReadControlKeys();
    QueryKeyState();
    return;
  }
  if (type != XCB_GE_GENERIC) return;
  const auto& generic = reinterpret_cast<const xcb_ge_generic_event_t&>(event);
  if (generic.extension != xinput_opcode_) return;
  if (generic.event_type != XCB_INPUT_RAW_KEY_PRESS &&
      generic.event_type != XCB_INPUT_RAW_KEY_RELEASE) {
    return;
  }
  const auto& key = reinterpret_cast<const xcb_input_raw_key_press_event_t&>(event);
  if (std::find(control_keys_.begin(), control_keys_.end(), key.detail) == control_keys_.end()) {
    return;
  }
  // The server has applied the key to its state by the time it answers a later request.
  QueryKeyState();
}

}  // namespace qelta
