#include "install/launchers.h"

#include "settings/autorun_store.h"

namespace qelta {

std::string LauncherEntry(const std::string& name, const std::string& program,
                          const std::string& argument, const std::string& icon_name) {
  std::string exec = DesktopExecFor(program);
  if (!argument.empty()) exec += ' ' + argument;
  return "[Desktop Entry]\n"
         "Type=Application\n"
         "Name=" +
         name +
         "\n"
         "Exec=" +
         exec +
         "\n"
         "Icon=" +
         icon_name +
         "\n"
         "Terminal=false\n"
         "Categories=Utility;\n";
}

}  // namespace qelta
