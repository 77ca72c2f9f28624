#pragma once

#include <string>

namespace qelta {

// Whether the program can open its windows here, asked before the toolkit starts: a platform
// named in QT_QPA_PLATFORM or on the command line (`platform_named`) is the toolkit's to judge;
// otherwise a Wayland display, or an X display that accepts a connection. Empty when there is
// one; else one line that says why not.
std::string MissingDisplayReason(bool platform_named);

}  // namespace qelta
