// Failures of the store reach the user through the guarded handler and break nothing else.
// The tests run as root, for whom permissions stop nothing; writes are made to fail by a file
// size limit, a file where the folder should be, and a folder where the file should be.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QTemporaryDir>

#include "monitor/handler_guard.h"
#include "settings/setting_keys.h"
#include "settings/settings_store.h"
#include "settings_test_support.h"

namespace qelta {
namespace {

using testing::FileSizeLimit;
using testing::FolderEntries;
using testing::ReadText;
using testing::RecordingReporter;
using testing::WriteText;

TEST(SettingsStoreFailures, UnwritableFileReportsTheValueAndKeepsEarlierValues) {
  QTemporaryDir dir;
  const std::string folder = dir.path().toStdString();
  SettingsStore store(folder);
  store.WriteString(kSettings, kPort, "COM3");
  store.WriteInteger(kSettings, kInterval, 10);
  const std::string before = ReadText(store.FilePath());

  RecordingReporter reporter;
  bool wrote = false;
  bool later_handler_ran = false;
  std::string port_during_failure;
  {
    FileSizeLimit limit(1);
    RunGuarded(reporter, [&] {
      store.WriteString(kSettings, kPort, "COM4");
      wrote = true;
    });
    RunGuarded(reporter, [&] { store.WriteBool(kStats, kEnabled, false); });
    RunGuarded(reporter, [&] { store.DeleteValue(kSettings, kInterval); });
    RunGuarded(reporter, [&] {
      later_handler_ran = true;
      port_during_failure = store.ReadString(kSettings, kPort, "");
    });
  }
  EXPECT_FALSE(wrote);
  EXPECT_TRUE(later_handler_ran);
  EXPECT_EQ(port_during_failure, "COM3");
  // A value in an existing section, then a new section, then a delete.
  EXPECT_EQ(reporter.messages,
            (QStringList{"Failed to set data for 'Port'", "Failed to create key Stats",
                         "Failed to set data for 'Interval'"}));
  EXPECT_EQ(ReadText(store.FilePath()), before);
  EXPECT_EQ(FolderEntries(folder), (std::vector<std::string>{"1.0.ini", "1.0.ini.lock"}));

  // The store stays usable.
  store.WriteString(kSettings, kPort, "COM4");
  EXPECT_EQ(store.ReadString(kSettings, kPort, ""), "COM4");
  EXPECT_EQ(store.ReadInteger(kSettings, kInterval, 0), 10);
}

TEST(SettingsStoreFailures, FolderThatCannotBeCreated) {
  QTemporaryDir dir;
  const std::string blocker = dir.path().toStdString() + "/QELTA";
  WriteText(blocker, "a file where the folder should be");
  const std::string folder = blocker + "/QELTA MONITOR";
  SettingsStore store(folder);

  RecordingReporter reporter;
  RunGuarded(reporter, [&] { store.WriteString(kSettings, kPort, "COM1"); });
  EXPECT_EQ(reporter.messages,
            QStringList{QString::fromStdString("Failed to create key " + folder)});
  // Reads see an empty store.
  EXPECT_EQ(store.ReadString(kSettings, kPort, "COM1"), "COM1");
  EXPECT_EQ(store.ReadInteger(kSettings, kInterval, 30), 30);
}

TEST(SettingsStoreFailures, FileThatCannotBeRead) {
  QTemporaryDir dir;
  const std::string folder = dir.path().toStdString();
  SettingsStore store(folder);
  ASSERT_EQ(::mkdir(store.FilePath().c_str(), 0700), 0);

  RecordingReporter reporter;
  RunGuarded(reporter, [&] { store.ReadString(kSettings, kPort, "COM1"); });
  RunGuarded(reporter, [&] { store.ReadBool(kPost, kPerform, false); });
  RunGuarded(reporter, [&] { store.WriteString(kSettings, kPort, "COM2"); });
  EXPECT_EQ(reporter.messages,
            (QStringList{"Failed to get data for 'Port'", "Failed to get data for 'Perform'",
                         "Failed to set data for 'Port'"}));

  ASSERT_EQ(::rmdir(store.FilePath().c_str()), 0);
  store.WriteString(kSettings, kPort, "COM2");
  EXPECT_EQ(store.ReadString(kSettings, kPort, ""), "COM2");
}

}  // namespace
}  // namespace qelta
