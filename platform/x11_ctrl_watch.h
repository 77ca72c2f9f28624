#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/ctrl_key_watch.h"
#include "platform/x11_event_connection.h"

namespace qelta {

// The Ctrl key followed through XInput 2 raw key events, which the server sends for every key
// of every keyboard whatever window has the focus or a grab. A raw event of a key that the
// server's modifier map counts as Control is answered by one query of the key state; other
// keys cost nothing but their event. The modifier map is read again when the server says it
// changed.
class X11CtrlWatch : public CtrlKeyWatch {
 public:
  // Null when the display cannot be reached or has no XInput 2.1 or later.
  static std::unique_ptr<X11CtrlWatch> Open(const std::string& display = std::string());

  bool CtrlDown() override { return down_; }
  // Only when the connection has broken; then the key reads as up.
  bool NeedsPolling() override { return false; }
  void SetChangeHandler(std::function<void()> handler) override { handler_ = std::move(handler); }

 private:
  explicit X11CtrlWatch(std::unique_ptr<X11EventConnection> connection, uint8_t xinput_opcode);
  bool SelectRawKeyEvents();
  void ReadControlKeys();
  void QueryKeyState();
  void OnEvent(const xcb_generic_event_t& event);

  std::unique_ptr<X11EventConnection> connection_;
  uint8_t xinput_opcode_;
  std::vector<uint8_t> control_keys_;  // keycodes that set the Control modifier
  bool down_ = false;
  std::function<void()> handler_;
};

}  // namespace qelta
