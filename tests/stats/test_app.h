#pragma once

#include <QApplication>

namespace qelta {

// The one application object of the test program, made on first use (offscreen).
inline QApplication& TestApp() {
  static int argc = 1;
  static char name[] = "test_stats";
  static char* argv[] = {name, nullptr};
  static QApplication app(argc, argv);
  return app;
}

}  // namespace qelta
