#pragma once

#include <QApplication>

namespace qelta::testing {

// The one application object of the widget tests of this program, kept until the process
// ends: destroyed among the other statics at exit, it would go after the input devices that
// key clicks register.
inline QApplication& TestApplication() {
  static int argc = 1;
  static char name[] = "test_settings";
  static char* argv[] = {name, nullptr};
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

}  // namespace qelta::testing
