#include "settings/xdg_paths.h"

#include <QDir>
#include <QFile>

#include <cstdlib>

namespace qelta {

std::string XdgConfigHome() {
  const char* configured = std::getenv("XDG_CONFIG_HOME");
  if (configured != nullptr && configured[0] == '/') return configured;
  // The bytes of $HOME as they are: a name that is not UTF-8 would not survive a QString.
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] == '/') return std::string(home) + "/.config";
  return QFile::encodeName(QDir::homePath()).toStdString() + "/.config";
}

}  // namespace qelta
