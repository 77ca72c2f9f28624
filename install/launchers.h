#pragma once

#include <string>

namespace qelta {

// A desktop launcher (a desktop entry file) that starts `program` with `argument` (none when
// empty), named `name` and shown with the icon theme's icon `icon_name`.
std::string LauncherEntry(const std::string& name, const std::string& program,
                          const std::string& argument, const std::string& icon_name);

}  // namespace qelta
