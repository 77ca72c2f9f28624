#include "x_desktop.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace qelta::testing {
namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kRequestDock = 0;
constexpr uint32_t kXEmbedEmbeddedNotify = 0;
constexpr int kIconSize = 24;

template <typename Reply>
struct Freed {
  Reply* reply;
  ~Freed() { std::free(reply); }
  Reply* operator->() const { return reply; }
  explicit operator bool() const { return reply != nullptr; }
};

}  // namespace

XDesktop::XDesktop(const std::string& display) {
  int screen_number = 0;
  connection_ = xcb_connect(display.c_str(), &screen_number);
  if (xcb_connection_has_error(connection_)) return;
  xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection_));
  for (int i = 0; i < screen_number; ++i) xcb_screen_next(&screens);
  screen_ = screens.data;

  // The tray: a small window at the top right that owns the tray selection of the screen.
  tray_ = xcb_generate_id(connection_);
  const uint32_t values[] = {screen_->white_pixel, 1,
                             XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_STRUCTURE_NOTIFY};
  xcb_create_window(connection_, XCB_COPY_FROM_PARENT, tray_, screen_->root,
                    static_cast<int16_t>(screen_->width_in_pixels - 2 * kIconSize), 0,
                    2 * kIconSize, kIconSize, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                    screen_->root_visual,
                    XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK, values);
  xcb_map_window(connection_, tray_);
  const std::string selection_name = "_NET_SYSTEM_TRAY_S" + std::to_string(screen_number);
  const xcb_atom_t selection = Atom(selection_name.c_str());
  xcb_set_selection_owner(connection_, tray_, selection, XCB_CURRENT_TIME);

  xcb_client_message_event_t manager{};
  manager.response_type = XCB_CLIENT_MESSAGE;
  manager.format = 32;
  manager.window = screen_->root;
  manager.type = Atom("MANAGER");
  manager.data.data32[0] = XCB_CURRENT_TIME;
  manager.data.data32[1] = selection;
  manager.data.data32[2] = tray_;
  xcb_send_event(connection_, 0, screen_->root, XCB_EVENT_MASK_STRUCTURE_NOTIFY,
                 reinterpret_cast<const char*>(&manager));
  xcb_flush(connection_);
  Freed<xcb_get_selection_owner_reply_t> owner{xcb_get_selection_owner_reply(
      connection_, xcb_get_selection_owner(connection_, selection), nullptr)};
  ok_ = owner && owner->owner == tray_;
}

XDesktop::~XDesktop() {
  if (connection_ != nullptr) xcb_disconnect(connection_);
}

xcb_atom_t XDesktop::Atom(const char* name) {
  Freed<xcb_intern_atom_reply_t> reply{xcb_intern_atom_reply(
      connection_, xcb_intern_atom(connection_, 0, static_cast<uint16_t>(std::strlen(name)), name),
      nullptr)};
  return reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
}

void XDesktop::Send(xcb_window_t window, const void* event) {
  // No event mask: the event goes to the client that made the window.
  xcb_send_event(connection_, 0, window, XCB_EVENT_MASK_NO_EVENT, static_cast<const char*>(event));
  xcb_flush(connection_);
}

xcb_window_t XDesktop::WaitForTrayIcon(std::chrono::milliseconds timeout) {
  const xcb_atom_t opcode = Atom("_NET_SYSTEM_TRAY_OPCODE");
  const auto deadline = Clock::now() + timeout;
  while (Clock::now() < deadline) {
    xcb_generic_event_t* event = xcb_poll_for_event(connection_);
    if (event == nullptr) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      continue;
    }
    xcb_window_t icon = 0;
    if ((event->response_type & 0x7f) == XCB_CLIENT_MESSAGE) {
      const auto* message = reinterpret_cast<xcb_client_message_event_t*>(event);
      if (message->type == opcode && message->data.data32[1] == kRequestDock) {
        icon = message->data.data32[2];
      }
    }
    std::free(event);
    if (icon == 0) continue;
    xcb_reparent_window(connection_, icon, tray_, 0, 0);
    const uint32_t size[] = {kIconSize, kIconSize};
    xcb_configure_window(connection_, icon, XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT,
                         size);
    xcb_client_message_event_t embedded{};
    embedded.response_type = XCB_CLIENT_MESSAGE;
    embedded.format = 32;
    embedded.window = icon;
    embedded.type = Atom("_XEMBED");
    embedded.data.data32[0] = XCB_CURRENT_TIME;
    embedded.data.data32[1] = kXEmbedEmbeddedNotify;
    embedded.data.data32[3] = tray_;
    Send(icon, &embedded);
    xcb_map_window(connection_, icon);
    xcb_flush(connection_);
    return icon;
  }
  return 0;
}

std::vector<xcb_window_t> XDesktop::TopLevelWindows() {
  std::vector<xcb_window_t> windows;
  Freed<xcb_query_tree_reply_t> tree{
      xcb_query_tree_reply(connection_, xcb_query_tree(connection_, screen_->root), nullptr)};
  if (!tree) return windows;
  const xcb_window_t* children = xcb_query_tree_children(tree.reply);
  for (int i = 0; i < xcb_query_tree_children_length(tree.reply); ++i) {
    Freed<xcb_get_window_attributes_reply_t> attributes{xcb_get_window_attributes_reply(
        connection_, xcb_get_window_attributes(connection_, children[i]), nullptr)};
    if (attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE && children[i] != tray_) {
      windows.push_back(children[i]);
    }
  }
  return windows;
}

std::string XDesktop::Title(xcb_window_t window) {
  Freed<xcb_get_property_reply_t> reply{xcb_get_property_reply(
      connection_,
      xcb_get_property(connection_, 0, window, Atom("_NET_WM_NAME"), Atom("UTF8_STRING"), 0, 256),
      nullptr)};
  if (!reply) return std::string();
  return std::string(static_cast<const char*>(xcb_get_property_value(reply.reply)),
                     static_cast<size_t>(xcb_get_property_value_length(reply.reply)));
}

int XDesktop::Width(xcb_window_t window) {
  Freed<xcb_get_geometry_reply_t> geometry{
      xcb_get_geometry_reply(connection_, xcb_get_geometry(connection_, window), nullptr)};
  return geometry ? geometry->width : 0;
}

xcb_window_t XDesktop::WaitForNewWindow(const std::vector<xcb_window_t>& known,
                                        const std::string& title, int min_width,
                                        std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  while (Clock::now() < deadline) {
    for (xcb_window_t window : TopLevelWindows()) {
      if (std::find(known.begin(), known.end(), window) != known.end()) continue;
      if ((title.empty() || Title(window) == title) && Width(window) >= min_width) return window;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return 0;
}

void XDesktop::RightClick(xcb_window_t window) {
  xcb_button_press_event_t press{};
  press.response_type = XCB_BUTTON_PRESS;
  press.detail = 3;
  press.time = XCB_CURRENT_TIME;
  press.root = screen_->root;
  press.event = window;
  press.root_x = static_cast<int16_t>(screen_->width_in_pixels - kIconSize);
  press.root_y = kIconSize / 2;
  press.event_x = kIconSize / 2;
  press.event_y = kIconSize / 2;
  press.same_screen = 1;
  Send(window, &press);
}

uint8_t XDesktop::KeycodeOf(uint32_t keysym) {
  const xcb_setup_t* setup = xcb_get_setup(connection_);
  const uint8_t first = setup->min_keycode;
  const uint8_t count = static_cast<uint8_t>(setup->max_keycode - first + 1);
  Freed<xcb_get_keyboard_mapping_reply_t> mapping{xcb_get_keyboard_mapping_reply(
      connection_, xcb_get_keyboard_mapping(connection_, first, count), nullptr)};
  if (!mapping) return 0;
  const xcb_keysym_t* keysyms = xcb_get_keyboard_mapping_keysyms(mapping.reply);
  const int per_code = mapping->keysyms_per_keycode;
  for (int code = 0; code < count; ++code) {
    if (keysyms[code * per_code] == keysym) return static_cast<uint8_t>(first + code);
  }
  return 0;
}

void XDesktop::Key(xcb_window_t window, uint32_t keysym) {
  xcb_key_press_event_t key{};
  key.detail = KeycodeOf(keysym);
  key.time = XCB_CURRENT_TIME;
  key.root = screen_->root;
  key.event = window;
  key.same_screen = 1;
  key.response_type = XCB_KEY_PRESS;
  Send(window, &key);
  key.response_type = XCB_KEY_RELEASE;
  Send(window, &key);
}

void XDesktop::Focus(xcb_window_t window) {
  xcb_set_input_focus(connection_, XCB_INPUT_FOCUS_POINTER_ROOT, window, XCB_CURRENT_TIME);
  xcb_flush(connection_);
}

QImage XDesktop::Capture(xcb_window_t window) {
  Freed<xcb_get_geometry_reply_t> geometry{
      xcb_get_geometry_reply(connection_, xcb_get_geometry(connection_, window), nullptr)};
  if (!geometry) return QImage();
  Freed<xcb_get_image_reply_t> image{
      xcb_get_image_reply(connection_,
                          xcb_get_image(connection_, XCB_IMAGE_FORMAT_Z_PIXMAP, window, 0, 0,
                                        geometry->width, geometry->height, ~0u),
                          nullptr)};
  if (!image || image->depth != 24) return QImage();
  const QImage view(xcb_get_image_data(image.reply), geometry->width, geometry->height,
                    QImage::Format_RGB32);
  return view.copy();
}

}  // namespace qelta::testing
