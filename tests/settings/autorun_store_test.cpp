#include "settings/autorun_store.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QTemporaryDir>

#include "settings/setting_keys.h"
#include "settings_test_support.h"

namespace qelta {
namespace {

using testing::FolderEntries;
using testing::ReadText;
using testing::WriteText;

class AutorunStoreTest : public ::testing::Test {
 protected:
  std::string Folder() const { return dir_.path().toStdString() + "/autostart"; }
  std::string Entry() const { return Folder() + "/QELTA MONITOR.desktop"; }

  QTemporaryDir dir_;
};

bool Exists(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0;
}

TEST_F(AutorunStoreTest, EntryIsCreatedReadBackAndDeleted) {
  AutorunStore store(Folder());
  EXPECT_EQ(store.EntryPath(), Entry());
  EXPECT_EQ(store.ReadString(kRun, kAutorunValue, ""), "");
  EXPECT_EQ(store.ReadString(kRun, kAutorunValue, "none"), "none");

  store.WriteString(kRun, kAutorunValue, "/home/user/.local/opt/QELTA/qelta-monitor");
  EXPECT_EQ(ReadText(Entry()),
            "[Desktop Entry]\n"
            "Type=Application\n"
            "Name=QELTA MONITOR\n"
            "Exec=/home/user/.local/opt/QELTA/qelta-monitor\n"
            "Terminal=false\n"
            "X-GNOME-Autostart-enabled=true\n");
  EXPECT_EQ(store.ReadString("run", "qelta monitor", ""),
            "/home/user/.local/opt/QELTA/qelta-monitor");

  store.WriteString(kRun, kAutorunValue, "/opt/qelta/bin/qelta-monitor");  // replaces
  EXPECT_EQ(store.ReadString(kRun, kAutorunValue, ""), "/opt/qelta/bin/qelta-monitor");

  store.DeleteValue(kRun, kAutorunValue);
  EXPECT_FALSE(Exists(Entry()));
  EXPECT_EQ(store.ReadString(kRun, kAutorunValue, ""), "");
  store.DeleteValue(kRun, kAutorunValue);  // nothing to delete: nothing happens
  EXPECT_EQ(FolderEntries(Folder()), std::vector<std::string>{});
}

TEST_F(AutorunStoreTest, PathsAreQuotedAsDesktopEntriesRequire) {
  AutorunStore store(Folder());
  store.WriteString(kRun, kAutorunValue, "/home/user/My Programs/qelta-monitor");
  EXPECT_NE(ReadText(Entry()).find("\nExec=\"/home/user/My Programs/qelta-monitor\"\n"),
            std::string::npos);
  EXPECT_EQ(store.ReadString(kRun, kAutorunValue, ""), "/home/user/My Programs/qelta-monitor");

  // Inside quotes " ` $ \ take a backslash, which the string escapes then double; % doubles.
  const std::string odd = "/tmp/a \"b\" $c `d` 100%\\e";
  store.WriteString(kRun, kAutorunValue, odd);
  EXPECT_NE(
      ReadText(Entry()).find("\nExec=\"/tmp/a \\\\\"b\\\\\" \\\\$c \\\\`d\\\\` 100%%\\\\\\\\e\"\n"),
      std::string::npos)
      << ReadText(Entry());
  EXPECT_EQ(store.ReadString(kRun, kAutorunValue, ""), odd);

  const std::string percent = "/opt/100%/qelta-monitor";
  store.WriteString(kRun, kAutorunValue, percent);
  EXPECT_NE(ReadText(Entry()).find("\nExec=/opt/100%%/qelta-monitor\n"), std::string::npos);
  EXPECT_EQ(store.ReadString(kRun, kAutorunValue, ""), percent);
}

// A program whose path is not UTF-8 (or went through a lossy conversion) cannot be named by
// a desktop entry: the write fails as a store failure instead of writing an entry that starts
// something else.
TEST_F(AutorunStoreTest, APathADesktopEntryCannotNameIsRefused) {
  AutorunStore store(Folder());
  EXPECT_THROW(store.WriteString(kRun, kAutorunValue, "/home/\xC4\xEE\xEC/qelta-monitor"),
               StoreError);
  EXPECT_THROW(store.WriteString(kRun, kAutorunValue, "/home/\xEF\xBF\xBD/qelta-monitor"),
               StoreError);
  EXPECT_FALSE(Exists(Entry()));
  store.WriteString(kRun, kAutorunValue, "/home/Дом/qelta-monitor");
  EXPECT_EQ(store.ReadString(kRun, kAutorunValue, ""), "/home/Дом/qelta-monitor");
}

TEST_F(AutorunStoreTest, HandWrittenEntries) {
  AutorunStore store(Folder());
  ASSERT_EQ(::mkdir(Folder().c_str(), 0700), 0);

  WriteText(Entry(),
            "# made by hand\n"
            "[Desktop Action Other]\n"
            "Exec=/usr/bin/other\n"
            "[Desktop Entry]\n"
            "Name=QELTA MONITOR\n"
            "Exec = /usr/bin/qelta-monitor --minimized %U\n");
  EXPECT_EQ(store.ReadString(kRun, kAutorunValue, ""), "/usr/bin/qelta-monitor");

  // Switched off in the desktop's start-up settings: not started, so not set.
  WriteText(Entry(), "[Desktop Entry]\nExec=/usr/bin/qelta-monitor\nHidden=true\n");
  EXPECT_EQ(store.ReadString(kRun, kAutorunValue, ""), "");
  WriteText(Entry(),
            "[Desktop Entry]\nExec=/usr/bin/qelta-monitor\nX-GNOME-Autostart-enabled=false\n");
  EXPECT_EQ(store.ReadString(kRun, kAutorunValue, ""), "");
  WriteText(Entry(), "[Desktop Entry]\r\r\nExec=/opt/QELTA/qelta-monitor\r\r\n");
  EXPECT_EQ(store.ReadString(kRun, kAutorunValue, ""), "/opt/QELTA/qelta-monitor");
  WriteText(Entry(), "[Desktop Entry]\nName=no command\n");
  EXPECT_EQ(store.ReadString(kRun, kAutorunValue, "none"), "none");

  // Writing replaces the whole entry, switched-off marks included.
  store.WriteString(kRun, kAutorunValue, "/usr/bin/qelta-monitor");
  EXPECT_EQ(store.ReadString(kRun, kAutorunValue, ""), "/usr/bin/qelta-monitor");
}

TEST_F(AutorunStoreTest, OnlyTheRunValueExists) {
  AutorunStore store(Folder());
  store.WriteString(kRun, kAutorunValue, "/usr/bin/qelta-monitor");

  EXPECT_EQ(store.ReadString(kRun, "Other", "def"), "def");
  EXPECT_EQ(store.ReadString(kSettings, kAutorunValue, "def"), "def");
  EXPECT_EQ(store.ReadInteger(kRun, kAutorunValue, 5), 5);  // a path is no integer
  EXPECT_THROW(store.WriteString(kRun, "Other", "x"), StoreError);
  try {
    store.WriteBool(kSettings, kBeeper, true);
    ADD_FAILURE() << "a write outside the Run value was accepted";
  } catch (const StoreError& error) {
    EXPECT_STREQ(error.what(), "Failed to set data for 'Beeper'");
  }
  store.DeleteValue(kRun, "Other");
  EXPECT_EQ(store.ReadString(kRun, kAutorunValue, ""), "/usr/bin/qelta-monitor");

  // An empty command starts nothing: the entry goes.
  store.WriteString(kRun, kAutorunValue, "");
  EXPECT_FALSE(Exists(Entry()));
}

TEST_F(AutorunStoreTest, Failures) {
  WriteText(dir_.path().toStdString() + "/blocked", "a file where the folder should be");
  AutorunStore blocked(dir_.path().toStdString() + "/blocked/autostart");
  try {
    blocked.WriteString(kRun, kAutorunValue, "/usr/bin/qelta-monitor");
    ADD_FAILURE() << "no error";
  } catch (const StoreError& error) {
    EXPECT_EQ(std::string(error.what()),
              "Failed to create key " + dir_.path().toStdString() + "/blocked/autostart");
  }
  EXPECT_EQ(blocked.ReadString(kRun, kAutorunValue, ""), "");

  AutorunStore store(Folder());
  ASSERT_EQ(::mkdir(Folder().c_str(), 0700), 0);
  ASSERT_EQ(::mkdir(Entry().c_str(), 0700), 0);  // a folder where the entry should be
  try {
    store.ReadString(kRun, kAutorunValue, "");
    ADD_FAILURE() << "no error";
  } catch (const StoreError& error) {
    EXPECT_STREQ(error.what(), "Failed to get data for 'QELTA MONITOR'");
  }
  EXPECT_THROW(store.WriteString(kRun, kAutorunValue, "/usr/bin/qelta-monitor"), StoreError);
  EXPECT_THROW(store.DeleteValue(kRun, kAutorunValue), StoreError);
}

}  // namespace
}  // namespace qelta
