#pragma once

#include <QApplication>

namespace qelta::testing {

// The one application object of the test program, made on first use. It lives until the
// process ends: QTest's input devices must not outlive it.
inline QApplication& App() {
  static int argc = 1;
  static char name[] = "test_install";
  static char* argv[] = {name, nullptr};
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

}  // namespace qelta::testing
