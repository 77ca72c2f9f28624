#pragma once

// A minimal system tray for benchmarks and tests under Xvfb: it owns the _NET_SYSTEM_TRAY_S0
// selection, announces itself with the MANAGER message, docks each icon that asks into its own
// window at the screen's top-left corner (a later icon in the place of an earlier one) and can
// click there with the XTEST extension.
// Header-only; each benchmark is one program.

#include <poll.h>
#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

namespace qelta::bench {

class XEmbedTrayHost {
 public:
  static constexpr int kIconSize = 22;

  XEmbedTrayHost() = default;
  XEmbedTrayHost(const XEmbedTrayHost&) = delete;
  XEmbedTrayHost& operator=(const XEmbedTrayHost&) = delete;
  ~XEmbedTrayHost() { Stop(); }

  // Connects to `display`, takes the tray selection and starts serving dock requests.
  bool Start(const std::string& display) {
    connection_ = xcb_connect(display.c_str(), nullptr);
    if (xcb_connection_has_error(connection_)) return false;
    screen_ = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data;
    tray_selection_ = Atom("_NET_SYSTEM_TRAY_S0");
    opcode_ = Atom("_NET_SYSTEM_TRAY_OPCODE");
    const xcb_atom_t manager = Atom("MANAGER");

    window_ = xcb_generate_id(connection_);
    const uint32_t values[] = {
        screen_->black_pixel, 1u,
        XCB_EVENT_MASK_STRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY};
    xcb_create_window(connection_, XCB_COPY_FROM_PARENT, window_, screen_->root, 0, 0,
                      4 * kIconSize, kIconSize, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                      screen_->root_visual,
                      XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK, values);
    xcb_map_window(connection_, window_);
    xcb_set_selection_owner(connection_, window_, tray_selection_, XCB_CURRENT_TIME);

    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = screen_->root;
    message.type = manager;
    message.data.data32[0] = XCB_CURRENT_TIME;
    message.data.data32[1] = tray_selection_;
    message.data.data32[2] = window_;
    xcb_send_event(connection_, 0, screen_->root, XCB_EVENT_MASK_STRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&message));
    xcb_flush(connection_);
    serving_ = true;
    thread_ = std::thread([this] { Serve(); });
    return true;
  }

  void Stop() {
    serving_ = false;
    if (thread_.joinable()) thread_.join();
    if (connection_ != nullptr) xcb_disconnect(connection_);
    connection_ = nullptr;
  }

  // Waits until an icon has docked; true when one did within `timeout`.
  bool WaitForIcon(std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (icon_ == 0 && std::chrono::steady_clock::now() < end) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return icon_ != 0;
  }

  // How many dock requests have been served.
  int Docked() const { return docked_; }

  // A left click in the middle of the docked icon.
  void ClickIcon() {
    std::lock_guard lock(mutex_);
    xcb_test_fake_input(connection_, XCB_MOTION_NOTIFY, 0, XCB_CURRENT_TIME, screen_->root,
                        kIconSize / 2, kIconSize / 2, 0);
    xcb_test_fake_input(connection_, XCB_BUTTON_PRESS, 1, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    xcb_test_fake_input(connection_, XCB_BUTTON_RELEASE, 1, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    xcb_flush(connection_);
  }

  // True when a top-level window titled `title` is mapped and viewable.
  bool WindowShown(const std::string& title) {
    std::lock_guard lock(mutex_);
    const xcb_atom_t net_wm_name = Atom("_NET_WM_NAME");
    xcb_query_tree_reply_t* tree =
        xcb_query_tree_reply(connection_, xcb_query_tree(connection_, screen_->root), nullptr);
    if (tree == nullptr) return false;
    bool shown = false;
    const xcb_window_t* children = xcb_query_tree_children(tree);
    for (int i = 0; i < xcb_query_tree_children_length(tree) && !shown; ++i) {
      xcb_get_window_attributes_reply_t* attributes = xcb_get_window_attributes_reply(
          connection_, xcb_get_window_attributes(connection_, children[i]), nullptr);
      const bool viewable =
          attributes != nullptr && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
      std::free(attributes);
      if (!viewable) continue;
      xcb_get_property_reply_t* name =
          xcb_get_property_reply(connection_,
                                 xcb_get_property(connection_, 0, children[i], net_wm_name,
                                                  XCB_GET_PROPERTY_TYPE_ANY, 0, 256),
                                 nullptr);
      if (name != nullptr) {
        const std::string text(static_cast<const char*>(xcb_get_property_value(name)),
                               xcb_get_property_value_length(name));
        shown = text == title;
      }
      std::free(name);
    }
    std::free(tree);
    return shown;
  }

 private:
  xcb_atom_t Atom(const char* name) {
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        connection_, xcb_intern_atom(connection_, 0, std::strlen(name), name), nullptr);
    const xcb_atom_t atom = reply != nullptr ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
    std::free(reply);
    return atom;
  }

  void Serve() {
    constexpr uint32_t kRequestDock = 0;
    while (serving_) {
      pollfd p{xcb_get_file_descriptor(connection_), POLLIN, 0};
      ::poll(&p, 1, 100);
      std::lock_guard lock(mutex_);
      while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
        if ((event->response_type & 0x7F) == XCB_CLIENT_MESSAGE) {
          auto* message = reinterpret_cast<xcb_client_message_event_t*>(event);
          if (message->type == opcode_ && message->data.data32[1] == kRequestDock) {
            const xcb_window_t icon = message->data.data32[2];
            xcb_reparent_window(connection_, icon, window_, 0, 0);
            const uint32_t size[] = {kIconSize, kIconSize};
            xcb_configure_window(connection_, icon,
                                 XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT, size);
            xcb_map_window(connection_, icon);
            xcb_flush(connection_);
            icon_ = icon;
            ++docked_;
          }
        }
        std::free(event);
      }
    }
  }

  xcb_connection_t* connection_ = nullptr;
  xcb_screen_t* screen_ = nullptr;
  xcb_window_t window_ = 0;
  xcb_atom_t tray_selection_ = 0;
  xcb_atom_t opcode_ = 0;
  std::atomic<xcb_window_t> icon_{0};
  std::atomic<int> docked_{0};
  std::atomic<bool> serving_{false};
  std::mutex mutex_;
  std::thread thread_;
};

}  // namespace qelta::bench
