#include "platform/tray_appearance_watch.h"

#include <QGuiApplication>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/x11_event_connection.h"

namespace qelta {
namespace {

class X11TrayAppearanceWatch : public ChangeNotice {
 public:
  // Ready() is false when the display cannot be reached or the root window not watched.
  X11TrayAppearanceWatch() {
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

  bool TellsEveryChange() override { return ready_; }
  void SetChangeHandler(std::function<void()> handler) override { handler_ = std::move(handler); }

 private:
  xcb_atom_t Atom(const char* name) {
    xcb_connection_t* c = connection_.Raw();
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
    const xcb_atom_t atom = reply != nullptr ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
    std::free(reply);
    return atom;
  }

  void OnEvent(const xcb_generic_event_t& event) {
    if ((event.response_type & 0x7F) != XCB_CLIENT_MESSAGE) return;
    const auto& message = reinterpret_cast<const xcb_client_message_event_t&>(event);
    if (message.type != manager_ || message.format != 32) return;
    if (message.data.data32[1] != selection_) return;
    if (handler_) handler_();
  }

  X11EventConnection connection_;
  xcb_atom_t manager_ = XCB_ATOM_NONE;
  xcb_atom_t selection_ = XCB_ATOM_NONE;
  bool ready_ = false;
  std::function<void()> handler_;
};

// A platform without a desktop: no tray ever appears, and that is all there is to tell.
class NoTrayEver : public ChangeNotice {
 public:
  bool TellsEveryChange() override { return true; }
  void SetChangeHandler(std::function<void()>) override {}
};

// A platform whose trays announce themselves in no way we follow.
class TrayAppearanceUntold : public ChangeNotice {
 public:
  bool TellsEveryChange() override { return false; }
  void SetChangeHandler(std::function<void()>) override {}
};

}  // namespace

std::unique_ptr<ChangeNotice> MakeTrayAppearanceWatch() {
  const QString platform = QGuiApplication::platformName();
  if (platform == QLatin1String("xcb")) {
    auto watch = std::make_unique<X11TrayAppearanceWatch>();
    if (watch->TellsEveryChange()) return watch;
    return std::make_unique<TrayAppearanceUntold>();
  }
  if (platform == QLatin1String("offscreen") || platform == QLatin1String("minimal")) {
    return std::make_unique<NoTrayEver>();
  }
  return std::make_unique<TrayAppearanceUntold>();
}

}  // namespace qelta
