#include "platform/program_starter.h"

#include <QProcess>

namespace qelta {

bool DetachedProcessStarter::StartDetached(const QString& program, const QStringList& arguments,
                                           const QString& working_folder) {
  return QProcess::startDetached(program, arguments, working_folder);
}

}  // namespace qelta
