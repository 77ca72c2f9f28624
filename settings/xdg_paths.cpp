#include "settings/xdg_paths.h"

#include <QDir>

#include <cstdlib>

namespace qelta {

std::string XdgConfigHome() {
  const char* configured = std::getenv("XDG_CONFIG_HOME");
  if (configured != nullptr && configured[0] == '/') return configured;
  return QDir::homePath().toStdString() + "/.config";
}

}  // namespace qelta
