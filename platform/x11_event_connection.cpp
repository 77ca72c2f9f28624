#include "platform/x11_event_connection.h"

#include <cstdlib>

namespace qelta {

X11EventConnection::X11EventConnection(const std::string& display) {
  connection_ = xcb_connect(display.empty() ? nullptr : display.c_str(), &screen_number_);
  if (xcb_connection_has_error(connection_)) return;
  xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection_));
  for (int i = 0; i < screen_number_ && screens.rem > 0; ++i) xcb_screen_next(&screens);
  if (screens.rem == 0) return;
  root_ = screens.data->root;
  notifier_ = std::make_unique<QSocketNotifier>(xcb_get_file_descriptor(connection_),
                                                QSocketNotifier::Read);
  QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { DispatchEvents(); });
}

X11EventConnection::~X11EventConnection() {
  notifier_.reset();
  if (connection_ != nullptr) xcb_disconnect(connection_);
}

bool X11EventConnection::Connected() const {
  return connection_ != nullptr && root_ != 0 && !xcb_connection_has_error(connection_);
}

void X11EventConnection::DispatchEvents() {
  if (!Connected()) return;
  // A listener that waits for a reply calls this again; the outer loop reads on.
  if (dispatching_) return;
  dispatching_ = true;
  while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
    if (listener_) listener_(*event);
    std::free(event);
  }
  dispatching_ = false;
  if (xcb_connection_has_error(connection_)) {
    // Not deleted here: this may run inside the notifier's own signal.
    notifier_->setEnabled(false);
    if (broken_) {
      auto broken = std::move(broken_);
      broken();
    }
  }
}

}  // namespace qelta
