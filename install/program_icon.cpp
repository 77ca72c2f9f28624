#include "install/program_icon.h"

#include <QFile>

#include "install/install_texts.h"

// Resources of a static library are registered by hand.
static void RegisterProgramIconResources() {
  Q_INIT_RESOURCE(program_icon);
}

namespace qelta {
namespace {

constexpr int kSizes[] = {16, 22, 24, 32, 48, 64, 128, 256};

QString Resource(const QString& name) {
  static const bool registered = (RegisterProgramIconResources(), true);
  (void)registered;
  return QStringLiteral(":/program-icon/") + name;
}

std::string ReadResource(const QString& name) {
  QFile file(Resource(name));
  if (!file.open(QIODevice::ReadOnly)) return {};
  return file.readAll().toStdString();
}

}  // namespace

std::vector<IconFile> ProgramIconFiles() {
  std::vector<IconFile> files;
  for (const int size : kSizes) {
    const std::string folder = std::to_string(size) + "x" + std::to_string(size);
    files.push_back({folder + "/apps/" + kIconName + ".png",
                     ReadResource(QString::number(size) + QStringLiteral(".png"))});
  }
  files.push_back({std::string("scalable/apps/") + kIconName + ".svg",
                   ReadResource(QStringLiteral("qelta-monitor.svg"))});
  return files;
}

QIcon ProgramIcon() {
  QIcon icon;
  for (const int size : kSizes) icon.addFile(Resource(QString::number(size) + ".png"));
  return icon;
}

}  // namespace qelta
