// When this test program is started with QELTA_SETTINGS_CHILD=writer it does not run the tests:
// it writes settings and reports each completed write on its standard output, then exits.
// This runs from a static initializer, before the test framework starts.

#include <unistd.h>

#include <cstdlib>
#include <string>

#include "settings/settings_store.h"

namespace {

bool RunWriterIfAsked() {
  const char* role = std::getenv("QELTA_SETTINGS_CHILD");
  if (role == nullptr || std::string(role) != "writer") return false;
  const std::string folder = std::getenv("QELTA_SETTINGS_FOLDER");
  const std::string prefix = std::getenv("QELTA_SETTINGS_PREFIX");
  const int count = std::atoi(std::getenv("QELTA_SETTINGS_COUNT"));
  int status = 0;
  try {
    qelta::SettingsStore store(folder);
    for (int i = 0; i < count; ++i) {
      store.WriteInteger("Keys", prefix + std::to_string(i), i);
      const std::string report = std::to_string(i) + '\n';
      if (::write(STDOUT_FILENO, report.data(), report.size()) !=
          static_cast<ssize_t>(report.size())) {
        status = 3;
        break;
      }
    }
  } catch (...) {
    status = 2;
  }
  ::_exit(status);
}

[[maybe_unused]] const bool kWriterRan = RunWriterIfAsked();

}  // namespace
