#pragma once

#include <xcb/xcb.h>

#include <QSocketNotifier>
#include <functional>
#include <memory>
#include <string>

namespace qelta {

// A connection of its own to the X server, read from the Qt event loop: the events it receives
// go to one listener on the UI thread. Watches that select events on the root window use it,
// so that their selections never replace those of the toolkit's own connection.
class X11EventConnection {
 public:
  // Connects to `display` (empty: $DISPLAY); Connected() tells whether that worked.
  explicit X11EventConnection(const std::string& display = std::string());
  ~X11EventConnection();
  X11EventConnection(const X11EventConnection&) = delete;
  X11EventConnection& operator=(const X11EventConnection&) = delete;

  // True while the connection works.
  bool Connected() const;
  xcb_connection_t* Raw() const { return connection_; }
  xcb_window_t Root() const { return root_; }
  int ScreenNumber() const { return screen_number_; }

  using Listener = std::function<void(const xcb_generic_event_t& event)>;
  void SetListener(Listener listener) { listener_ = std::move(listener); }
  // Called once when the connection breaks.
  void SetBrokenHandler(std::function<void()> handler) { broken_ = std::move(handler); }

  // Hands every event that has arrived to the listener, also those that xcb queued while it
  // waited for a reply.
  void DispatchEvents();

 private:
  xcb_connection_t* connection_ = nullptr;
  xcb_window_t root_ = 0;
  int screen_number_ = 0;
  std::unique_ptr<QSocketNotifier> notifier_;
  Listener listener_;
  std::function<void()> broken_;
  bool dispatching_ = false;
};

}  // namespace qelta
