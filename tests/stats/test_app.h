#pragma once

#include <QApplication>

namespace qelta {

// The one application object of the test program, made on first use (offscreen). It lives
// until the process ends: destroyed among the exit handlers, it would outlive objects of Qt's
// own that it owns (the pointing device of simulated mouse events).
inline QApplication& TestApp() {
  static int argc = 1;
  static char name[] = "test_stats";
  static char* argv[] = {name, nullptr};
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

}  // namespace qelta
