#pragma once

#include <string>

namespace qelta {

// The user's configuration folder: $XDG_CONFIG_HOME when it is set to an absolute path, else
// ~/.config.
std::string XdgConfigHome();

}  // namespace qelta
