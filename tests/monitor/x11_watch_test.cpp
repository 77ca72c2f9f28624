// The X11 watches on a private X server: the Ctrl key followed through raw key events, and a
// system tray's arrival. Keys are pressed through the XTEST extension, as a keyboard would.
#include <gtest/gtest.h>
#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/x11_ctrl_watch.h"
#include "platform/x11_tray_watch.h"
#include "program_harness.h"

namespace qelta::testing {
namespace {

// Another client of the display: the "keyboard" and the "tray".
class XClient {
 public:
  explicit XClient(const std::string& display) {
    connection_ = xcb_connect(display.c_str(), nullptr);
    if (xcb_connection_has_error(connection_)) return;
    root_ = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
  }
  ~XClient() { xcb_disconnect(connection_); }
  bool Ok() const { return root_ != 0; }

  // The first keycode of a modifier (2 Control, 0 Shift) in the server's map.
  xcb_keycode_t ModifierKey(int modifier) {
    xcb_get_modifier_mapping_reply_t* map =
        xcb_get_modifier_mapping_reply(connection_, xcb_get_modifier_mapping(connection_), nullptr);
    if (map == nullptr) return 0;
    const xcb_keycode_t key =
        xcb_get_modifier_mapping_keycodes(map)[modifier * map->keycodes_per_modifier];
    std::free(map);
    return key;
  }
  void Key(xcb_keycode_t key, bool press) {
    xcb_test_fake_input(connection_, press ? XCB_KEY_PRESS : XCB_KEY_RELEASE, key, XCB_CURRENT_TIME,
                        XCB_NONE, 0, 0, 0);
    xcb_aux_sync();
  }
  // Takes the tray selection `name` and announces it as a tray does.
  void AnnounceManager(const char* name) {
    const xcb_window_t window = xcb_generate_id(connection_);
    xcb_create_window(connection_, XCB_COPY_FROM_PARENT, window, root_, 0, 0, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
    const xcb_atom_t selection = Atom(name);
    xcb_set_selection_owner(connection_, window, selection, XCB_CURRENT_TIME);
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = root_;
    message.type = Atom("MANAGER");
    message.data.data32[0] = XCB_CURRENT_TIME;
    message.data.data32[1] = selection;
    message.data.data32[2] = window;
    xcb_send_event(connection_, 0, root_, XCB_EVENT_MASK_STRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&message));
    xcb_aux_sync();
  }

 private:
  xcb_atom_t Atom(const char* name) {
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        connection_, xcb_intern_atom(connection_, 0, std::strlen(name), name), nullptr);
    const xcb_atom_t atom = reply != nullptr ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
    std::free(reply);
    return atom;
  }
  // Waits until the server has handled every request sent so far.
  void xcb_aux_sync() {
    std::free(xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr));
  }

  xcb_connection_t* connection_ = nullptr;
  xcb_window_t root_ = 0;
};

// Runs the event loop until `done` or 5 s have passed; true when `done` held.
bool ProcessUntil(const std::function<bool()>& done) {
  QElapsedTimer elapsed;
  elapsed.start();
  while (!done() && elapsed.elapsed() < 5000) {
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
  }
  return done();
}

// Runs the event loop for `ms` milliseconds.
void ProcessFor(int ms) {
  QElapsedTimer elapsed;
  elapsed.start();
  while (elapsed.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

class X11WatchTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static int argc = 1;
    static char name[] = "x11_watch_test";
    static char* argv[] = {name, nullptr};
    if (QCoreApplication::instance() == nullptr) app_ = new QCoreApplication(argc, argv);
  }
  static void TearDownTestSuite() {
    delete app_;
    app_ = nullptr;
  }

  static inline QCoreApplication* app_ = nullptr;
  VirtualDisplay display_;
};

TEST_F(X11WatchTest, CtrlPressesAndReleasesAreToldWithoutBeingAsked) {
  ASSERT_TRUE(display_.ok());
  XClient keyboard(display_.name());
  ASSERT_TRUE(keyboard.Ok());
  std::unique_ptr<X11CtrlWatch> watch = X11CtrlWatch::Open(display_.name());
  ASSERT_NE(watch, nullptr) << "Xvfb offers XInput 2.1 or later";
  EXPECT_FALSE(watch->NeedsPolling());
  EXPECT_FALSE(watch->CtrlDown());
  int told = 0;
  watch->SetChangeHandler([&told] { ++told; });

  const xcb_keycode_t ctrl = keyboard.ModifierKey(2);
  const xcb_keycode_t shift = keyboard.ModifierKey(0);
  ASSERT_NE(ctrl, 0);
  ASSERT_NE(shift, 0);

  keyboard.Key(ctrl, true);
  EXPECT_TRUE(ProcessUntil([&] { return watch->CtrlDown(); }));
  EXPECT_EQ(told, 1);

  // Another key, pressed and released while Ctrl is held, changes nothing.
  keyboard.Key(shift, true);
  keyboard.Key(shift, false);
  ProcessFor(200);
  EXPECT_TRUE(watch->CtrlDown());
  EXPECT_EQ(told, 1);

  keyboard.Key(ctrl, false);
  EXPECT_TRUE(ProcessUntil([&] { return !watch->CtrlDown(); }));
  EXPECT_EQ(told, 2);
}

TEST_F(X11WatchTest, CtrlHeldBeforeTheWatchBeganIsKnownAtOnce) {
  ASSERT_TRUE(display_.ok());
  XClient keyboard(display_.name());
  ASSERT_TRUE(keyboard.Ok());
  const xcb_keycode_t ctrl = keyboard.ModifierKey(2);
  keyboard.Key(ctrl, true);
  std::unique_ptr<X11CtrlWatch> watch = X11CtrlWatch::Open(display_.name());
  ASSERT_NE(watch, nullptr);
  EXPECT_TRUE(watch->CtrlDown());
  keyboard.Key(ctrl, false);
  EXPECT_TRUE(ProcessUntil([&] { return !watch->CtrlDown(); }));
}

TEST_F(X11WatchTest, ATrayTakingTheScreensSelectionIsTold) {
  ASSERT_TRUE(display_.ok());
  X11TrayWatch watch(display_.name());
  ASSERT_TRUE(watch.TellsEveryChange());
  int told = 0;
  watch.SetChangeHandler([&told] { ++told; });

  XClient other(display_.name());
  ASSERT_TRUE(other.Ok());
  // A window manager announcing its own selection is no tray.
  other.AnnounceManager("WM_S0");
  ProcessFor(200);
  EXPECT_EQ(told, 0);

  other.AnnounceManager("_NET_SYSTEM_TRAY_S0");
  EXPECT_TRUE(ProcessUntil([&] { return told == 1; }));
}

TEST(X11WatchWithoutDisplay, AnUnreachableDisplayGivesNoWatch) {
  EXPECT_EQ(X11CtrlWatch::Open(":987654"), nullptr);
  X11TrayWatch tray(":987654");
  EXPECT_FALSE(tray.TellsEveryChange());
}

}  // namespace
}  // namespace qelta::testing
