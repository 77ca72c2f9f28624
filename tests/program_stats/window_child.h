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

// The first argument that makes the test program run as the monitor that opens the window over
// a huge statistics file with a FIFO where the side file goes (RunHugeFileChild).
inline constexpr char kHugeFileChildArgument[] = "--stats-huge-file-child";

// As RunWindowChild, over a statistics file of gigabytes whose side file is a FIFO (planted by
// the test). Arguments: the simulated input voltage (as for RunWindowChild), a file to which
// this process plants a link at the side file's old temporary name, and the number of zero
// records before the day's records. It opens the statistics window through the tray menu's
// item and checks that the handler returns while the day is read, that polls go on
// meanwhile, that their samples are written once each when the read ends, that the window
// then shows the day, and that the linked file is unchanged. Prints "ok: ..."/"fail: ..."
// lines and "done".
int RunHugeFileChild(int argc, char** argv);

}  // namespace qelta::testing
