#pragma once

#include <QIcon>
#include <string>
#include <vector>

namespace qelta {

// One file of the program's icon as the icon theme keeps it.
struct IconFile {
  // The path inside the theme folder, e.g. "48x48/apps/qelta-monitor.png".
  std::string theme_path;
  std::string content;
};

// The program's icon (a yellow lightning bolt on a blue tile): the scalable picture and the
// pictures drawn at the usual sizes.
std::vector<IconFile> ProgramIconFiles();

// The program's icon for its windows.
QIcon ProgramIcon();

}  // namespace qelta
