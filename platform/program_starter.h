#pragma once

#include <QString>
#include <QStringList>

namespace qelta {

// Starts another program as a process of its own that outlives this one.
class ProgramStarter {
 public:
  virtual ~ProgramStarter() = default;
  // Starts `program` with `arguments` in `working_folder`; false when it could not be started.
  virtual bool StartDetached(const QString& program, const QStringList& arguments,
                             const QString& working_folder) = 0;
};

// QProcess::startDetached.
class DetachedProcessStarter : public ProgramStarter {
 public:
  bool StartDetached(const QString& program, const QStringList& arguments,
                     const QString& working_folder) override;
};

}  // namespace qelta
