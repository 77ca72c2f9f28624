#pragma once

#include <QApplication>

namespace qelta {

// The one application object of the test program, made on first use (offscreen). It lives
// until the process ends: destroyed among the exit handlers, it would outlive objects of Qt's
// own that it owns (the pointing device of simulated mouse events).
// Its one screen is a desktop's 1920 x 1080 (the offscreen default, 800 x 600, is narrower
// than the statistics window's design); tests of smaller screens pass their area themselves.
inline QApplication& TestApp() {
  static const bool desktop = [] {
    if (qEnvironmentVariable("QT_QPA_PLATFORM", QStringLiteral("offscreen")) == u"offscreen") {
      qputenv("QT_QPA_PLATFORM",
              "offscreen:configfile=" QELTA_SOURCE_DIR "/tests/stats/desktop_screen.json");
    }
    return true;
  }();
  (void)desktop;
  static int argc = 1;
  static char name[] = "test_stats";
  static char* argv[] = {name, nullptr};
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

}  // namespace qelta
