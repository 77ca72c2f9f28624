#pragma once

#include <xcb/xcb.h>

#include <QImage>
#include <chrono>
#include <string>
#include <vector>

namespace qelta::testing {

// What a desktop does for a program on a private X server, done by the test: it hosts tray
// icons (the XEmbed system tray), gives a window the focus, and passes the user's clicks and
// key presses to the program's windows as events sent to them.
class XDesktop {
 public:
  explicit XDesktop(const std::string& display);
  ~XDesktop();
  XDesktop(const XDesktop&) = delete;
  XDesktop& operator=(const XDesktop&) = delete;

  // True once the tray is there (its selection is owned and announced).
  bool ok() const { return ok_; }

  // Waits for a program to dock its icon and embeds it; the icon's window, or 0.
  xcb_window_t WaitForTrayIcon(std::chrono::milliseconds timeout);

  // The viewable top-level windows.
  std::vector<xcb_window_t> TopLevelWindows();
  // Waits for a viewable top-level window that is not in `known`, titled `title` (any title
  // when empty) and at least `min_width` wide; the window, or 0.
  xcb_window_t WaitForNewWindow(const std::vector<xcb_window_t>& known, const std::string& title,
                                int min_width, std::chrono::milliseconds timeout);

  void RightClick(xcb_window_t window);
  // A press and release of the key that carries `keysym` (e.g. 0xff54 Down).
  void Key(xcb_window_t window, uint32_t keysym);
  void Focus(xcb_window_t window);
  QImage Capture(xcb_window_t window);

 private:
  xcb_atom_t Atom(const char* name);
  std::string Title(xcb_window_t window);
  int Width(xcb_window_t window);
  uint8_t KeycodeOf(uint32_t keysym);
  void Send(xcb_window_t window, const void* event);

  xcb_connection_t* connection_ = nullptr;
  xcb_screen_t* screen_ = nullptr;
  xcb_window_t tray_ = 0;
  bool ok_ = false;
};

}  // namespace qelta::testing
