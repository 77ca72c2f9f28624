// Cost of the settings store's operations on a file of the size an installed system has:
// reads (every one parses the file afresh) and durable writes.
// Usage: bench_settings_store [folder]   (default: a new temporary folder)

#include <QTemporaryDir>
#include <chrono>
#include <cstdio>
#include <string>

#include "settings/setting_keys.h"
#include "settings/settings_store.h"

namespace {

template <typename Operation>
double MicrosecondsEach(int count, Operation&& operation) {
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < count; ++i) operation(i);
  const std::chrono::duration<double, std::micro> elapsed =
      std::chrono::steady_clock::now() - start;
  return elapsed.count() / count;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace qelta;
  QTemporaryDir temporary;
  const std::string folder = argc > 1 ? argv[1] : temporary.path().toStdString();
  SettingsStore store(folder);

  // What an installation stores, plus the keys the dialog adds.
  store.WriteString(kSettings, kInstalledTo, "/home/user/.local/opt/QELTA/qelta-monitor");
  store.WriteString(kSettings, kPort, "COM1");
  store.WriteBool(kSettings, kInstalled, true);
  store.WriteString(kSettings, kVersion, "0.99.6");
  store.WriteInteger(kSettings, kInterval, 3);
  store.WriteBool(kSense, kBattery, true);
  store.WriteInteger(kSense, kBatteryTime, 10);
  store.WriteBool(kSense, kBatteryPercent, true);
  store.WriteInteger(kSense, kBatteryPercentValue, 80);
  store.WriteBool(kSense, kBatteryShutdown, true);
  store.WriteInteger(kSense, kBatteryShutdownCountdown, 60);
  store.WriteString(kSense, kBatterySound, "/home/user/Sounds/alarm.wav");
  store.WriteBool(kPost, kPerform, false);
  store.WriteString(kPost, kUrl, "example.invalid/catch_from_ups?some=param");
  store.WriteInteger(kPost, kInterval, 10);
  store.WriteBool(kStats, kEnabled, true);

  bool sink = false;
  const double read_us =
      MicrosecondsEach(20000, [&](int) { sink ^= store.ReadBool(kPost, kPerform, false); });
  const double miss_us =
      MicrosecondsEach(20000, [&](int) { sink ^= store.ReadBool(kStats, "Missing", false); });
  const double write_us =
      MicrosecondsEach(200, [&](int i) { store.WriteInteger(kPost, kInterval, i % 2 ? 3 : 10); });
  const double same_us =
      MicrosecondsEach(2000, [&](int) { store.WriteInteger(kPost, kInterval, 3); });

  std::printf("settings file: %s\n", store.FilePath().c_str());
  std::printf("read of an existing value:      %8.1f us\n", read_us);
  std::printf("read of a missing value:        %8.1f us\n", miss_us);
  std::printf("durable write (changed value):  %8.1f us\n", write_us);
  std::printf("write of an unchanged value:    %8.1f us\n", same_us);
  return sink ? 0 : 0;
}
