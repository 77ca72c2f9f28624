#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

namespace qelta::testing {

// Set up by main() before the tests run: both D-Bus buses of the process are private daemons,
// and ALSA's default device writes what is played into this file instead of to a sound card.
QString AlsaOutputPath();

// A stand-in service process (this test program re-executed, see standins.h). Stopped on
// destruction.
class StandInProcess {
 public:
  ~StandInProcess() { Stop(); }

  // Starts the program with the arguments and waits until it reports that it owns its name.
  bool Start(const QStringList& arguments);
  void Stop();

 private:
  QProcess process_;
};

}  // namespace qelta::testing
