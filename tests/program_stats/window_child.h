#pragma once

namespace qelta::testing {

// The first argument that makes the test program run as the monitor whose statistics
// window is checked (RunWindowChild) instead of running the tests.
inline constexpr char kWindowChildArgument[] = "--stats-window-child";

// Runs the real main window in this process, as the monitor does, on the display, settings
// and statistics file of its environment (the program's copy sits beside the statistics file
// with the name "qelta-monitor.window"). It takes over from the running monitor, records a
// few more samples, opens the statistics window through the tray menu's item and checks
// today's columns against the records in the file; then it closes the window, reopens it
// and refreshes it. Prints one line per finding ("fail: ..." for a fault) and "done", and
// returns 0 when nothing failed.
int RunWindowChild(int argc, char** argv);

}  // namespace qelta::testing
