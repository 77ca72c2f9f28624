#include "settings/settings_store.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <sys/wait.h>
#include <unistd.h>
#include <filesystem>

#include <QTemporaryDir>
#include <chrono>
#include <fstream>
#include <limits>
#include <sstream>
#include <thread>

#include "settings/setting_keys.h"
#include "settings_test_support.h"

namespace qelta {
namespace {

using testing::FolderEntries;
using testing::ReadText;
using testing::WriteText;

// The present as the store compares file times with it, `seconds` ahead of the real one: a
// file written just now counts as that old.
timespec SecondsAhead(int seconds) {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  now.tv_sec += seconds;
  return now;
}

struct stat StatOf(const std::string& path) {
  struct stat info {};
  EXPECT_EQ(::stat(path.c_str(), &info), 0);
  return info;
}

bool SameTime(const timespec& a, const timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

class SettingsStoreTest : public ::testing::Test {
 protected:
  // Tells `store` that its file is old enough to keep once parsed. A change made afterwards
  // waits for the kernel's file clock to move on, as any change does in reality once a file is
  // that old.
  static void FileCountsAsOld(SettingsStore& store) {
    store.SetClockForTimes([] { return SecondsAhead(SettingsStore::kFreshFileSeconds); });
  }
  static void LetTheFileClockMove() { std::this_thread::sleep_for(std::chrono::milliseconds(20)); }

  std::string Folder() const { return dir_.path().toStdString(); }
  std::string File() const { return Folder() + "/1.0.ini"; }

  QTemporaryDir dir_;
};

TEST_F(SettingsStoreTest, StoredTextsReadWithEachReadersDefault) {
  WriteText(File(),
            "[Settings]\n"
            "Beeper=2\n"
            "Installed=abc\n"
            "Version=\n"
            "Interval=-15\n"
            "Port=+7\n");
  SettingsStore store(Folder());

  // A boolean is an integer that is not 0; text that is not a number gives the default.
  EXPECT_TRUE(store.ReadBool(kSettings, kBeeper, false));
  EXPECT_FALSE(store.ReadBool(kSettings, kInstalled, false));
  EXPECT_TRUE(store.ReadBool(kSettings, kInstalled, true));
  EXPECT_EQ(store.ReadInteger(kSettings, kInstalled, 7), 7);
  EXPECT_EQ(store.ReadString(kSettings, kInstalled, "x"), "abc");

  // An existing empty value is the empty text, but no integer.
  EXPECT_EQ(store.ReadString(kSettings, kVersion, "0.99.6"), "");
  EXPECT_EQ(store.ReadInteger(kSettings, kVersion, 30), 30);
  EXPECT_TRUE(store.ReadBool(kSettings, kVersion, true));

  EXPECT_EQ(store.ReadInteger(kSettings, kInterval, 0), -15);
  EXPECT_EQ(store.ReadInteger(kSettings, kPort, 0), 7);

  // Missing values, sections and files: each reader's own default.
  EXPECT_EQ(store.ReadInteger(kSettings, kWarnOnModeChange, 30), 30);
  EXPECT_EQ(store.ReadInteger(kPost, kInterval, -1), -1);
  EXPECT_EQ(store.ReadInteger(kPost, kInterval, 60), 60);
  SettingsStore empty(Folder() + "/nothing");
  EXPECT_EQ(empty.ReadInteger(kSettings, kInterval, 30), 30);
  EXPECT_EQ(empty.ReadInteger(kSettings, kInterval, 10), 10);
  EXPECT_EQ(empty.ReadString(kSettings, kPort, "COM1"), "COM1");
}

TEST_F(SettingsStoreTest, WritesPlainTextsInTheirEncodings) {
  SettingsStore store(Folder());
  store.WriteString(kSettings, kPort, "COM2");
  store.WriteInteger(kSettings, kInterval, -12);
  store.WriteBool(kSense, kBatteryPlaySound, false);
  store.WriteBool(kSettings, kBeeper, true);
  store.WriteInteger(kSense, kBatteryTime, std::numeric_limits<int32_t>::min());
  store.WriteString(kSense, kBatterySound, "/home/user/My Sounds/alarm.wav");
  store.WriteString(kPost, kUrl, "example.invalid/catch_from_ups?some=param&x=[1]");
  store.WriteString(kStats, "Name", "Звук тревоги °");

  EXPECT_EQ(ReadText(File()),
            "[Settings]\n"
            "Port=COM2\n"
            "Interval=-12\n"
            "Beeper=1\n"
            "\n"
            "[Sense]\n"
            "BatteryPlaySound=0\n"
            "BatteryTime=-2147483648\n"
            "BatterySound=/home/user/My Sounds/alarm.wav\n"
            "\n"
            "[POST]\n"
            "URL=example.invalid/catch_from_ups?some=param&x=[1]\n"
            "\n"
            "[Stats]\n"
            "Name=Звук тревоги °\n");

  SettingsStore again(Folder());
  EXPECT_EQ(again.ReadInteger(kSettings, kInterval, 0), -12);
  EXPECT_EQ(again.ReadInteger(kSense, kBatteryTime, 0), std::numeric_limits<int32_t>::min());
  EXPECT_FALSE(again.ReadBool(kSense, kBatteryPlaySound, true));
  EXPECT_TRUE(again.ReadBool(kSettings, kBeeper, false));
  // Only the ini file and its lock file: no temporary file is left behind.
  EXPECT_EQ(FolderEntries(Folder()), (std::vector<std::string>{"1.0.ini", "1.0.ini.lock"}));
}

TEST_F(SettingsStoreTest, AnyTextRoundTripsAsValueKeyAndSectionName) {
  const std::vector<std::string> texts = {
      "",
      "line one\nline two\r\nline three\r",
      "  leading and trailing blanks  ",
      " ",
      "\ttabs\t",
      "a=b=c",
      "[Section]",
      "]",
      "; not a comment",
      "# not a comment",
      "back\\slash \\n \\s \\x41 \\\\ trailing\\",
      "\\",
      "C:\\Program Files\\QELTA",
      "\"quoted\"",
      std::string("nul\0byte", 8),
      "\x01\x1f\x7f control",
      "Кириллица, °, € and 𝄞",
      "\xff\xfe not UTF-8 \xc3",
      "\xc2\x85 C1 control",
      "=starts with equals",
      "ends with backslash and blank\\ ",
  };
  SettingsStore store(Folder());
  for (size_t i = 0; i < texts.size(); ++i) {
    const std::string key = "Value" + std::to_string(i);
    store.WriteString("Texts", key, texts[i]);
    if (texts[i].empty()) continue;  // empty names are not part of this test
    store.WriteString("Keys", texts[i], key);
    store.WriteString(texts[i], "Key", key);
  }
  SettingsStore reader(Folder());
  for (size_t i = 0; i < texts.size(); ++i) {
    SCOPED_TRACE(i);
    const std::string key = "Value" + std::to_string(i);
    EXPECT_EQ(reader.ReadString("Texts", key, "missing"), texts[i]);
    if (texts[i].empty()) continue;
    EXPECT_EQ(reader.ReadString("Keys", texts[i], "missing"), key);
    EXPECT_EQ(reader.ReadString(texts[i], "Key", "missing"), key);
  }
  // Every value is on one line of its own; names that look like syntax did not make sections.
  const std::string text = ReadText(File());
  EXPECT_EQ(text.find("\n[Section]\n"), std::string::npos);
  EXPECT_NE(text.find("\nValue1=line one\\nline two\\r\\nline three\\r\n"), std::string::npos);
  EXPECT_NE(text.find("\nValue2=\\s\\sleading and trailing blanks\\s\\s\n"), std::string::npos);
}

TEST_F(SettingsStoreTest, NamesCompareWithoutRegardToCase) {
  SettingsStore store(Folder());
  store.WriteString(kSettings, kPort, "COM1");
  store.WriteString("SETTINGS", "port", "COM2");
  store.WriteString("Звук", "Файл", "a.wav");
  store.WriteString("ЗВУК", "файл", "b.wav");

  EXPECT_EQ(store.ReadString("sEtTiNgS", "PORT", ""), "COM2");
  EXPECT_EQ(store.ReadString("звук", "ФАЙЛ", ""), "b.wav");
  // The stored spelling is kept; the value exists once.
  EXPECT_EQ(ReadText(File()),
            "[Settings]\n"
            "Port=COM2\n"
            "\n"
            "[Звук]\n"
            "Файл=b.wav\n");

  store.DeleteValue("settings", "PORT");
  EXPECT_EQ(store.ReadString(kSettings, kPort, "gone"), "gone");
}

TEST_F(SettingsStoreTest, EditsByOthersAreSeenAtTheNextRead) {
  SettingsStore store(Folder());
  FileCountsAsOld(store);
  store.WriteString(kSettings, kPort, "COM1");
  EXPECT_EQ(store.ReadString(kSettings, kPort, ""), "COM1");
  EXPECT_EQ(store.ReadString(kSettings, kPort, ""), "COM1");
  EXPECT_EQ(store.FileReads(), 1u);  // the second read found the file unchanged

  // A text editor saving in place, at the same size.
  LetTheFileClockMove();
  WriteText(File(), "[Settings]\nPort=COM9\n");
  EXPECT_EQ(store.ReadString(kSettings, kPort, ""), "COM9");

  // Another writer (another store object, as in another process).
  LetTheFileClockMove();
  SettingsStore other(Folder());
  other.WriteBool(kPost, kPerform, true);
  EXPECT_TRUE(store.ReadBool(kPost, kPerform, false));

  ASSERT_EQ(::unlink(File().c_str()), 0);
  EXPECT_EQ(store.ReadString(kSettings, kPort, "COM1"), "COM1");
  WriteText(File(), "[Settings]\nPort=COM3\n");
  EXPECT_EQ(store.ReadString(kSettings, kPort, ""), "COM3");
}

TEST_F(SettingsStoreTest, AnotherProcessRewritingInPlaceAtTheSameSizeAndTimeIsSeen) {
  WriteText(File(), "[Settings]\nPort=COM1\n");
  SettingsStore store(Folder());
  FileCountsAsOld(store);
  EXPECT_EQ(store.ReadString(kSettings, kPort, ""), "COM1");
  EXPECT_EQ(store.ReadString(kSettings, kPort, ""), "COM1");
  EXPECT_EQ(store.FileReads(), 1u);
  const struct stat before = StatOf(File());

  // Another process overwrites the bytes in place within the same second and even puts the
  // modification time back, as a file system whose times have a coarse step would show it.
  LetTheFileClockMove();
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const int fd = ::open(File().c_str(), O_WRONLY);
    const std::string text = "[Settings]\nPort=COM2\n";
    const timespec times[2] = {before.st_atim, before.st_mtim};
    const bool done =
        fd >= 0 && ::pwrite(fd, text.data(), text.size(), 0) == static_cast<ssize_t>(text.size()) &&
        ::futimens(fd, times) == 0;
    ::_exit(done ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  const struct stat after = StatOf(File());
  ASSERT_EQ(after.st_ino, before.st_ino);
  ASSERT_EQ(after.st_size, before.st_size);
  ASSERT_TRUE(SameTime(after.st_mtim, before.st_mtim));

  EXPECT_EQ(store.ReadString(kSettings, kPort, ""), "COM2");
  EXPECT_EQ(store.FileReads(), 2u);
}

TEST_F(SettingsStoreTest, AFileChangedTooRecentlyIsParsedAtEveryReadUntilItIsOldEnough) {
  WriteText(File(), "[Settings]\nPort=COM1\n");
  const timespec changed = StatOf(File()).st_ctim;
  // A change at the same clock step as this file's own would carry the very same times, so a
  // file younger than the largest step is never kept.
  timespec now = changed;
  now.tv_sec += SettingsStore::kFreshFileSeconds;
  timespec almost = now;
  if (almost.tv_nsec > 0) {
    --almost.tv_nsec;
  } else {
    --almost.tv_sec;
    almost.tv_nsec = 999999999;
  }
  SettingsStore store(Folder());
  store.SetClockForTimes([&almost] { return almost; });
  for (int i = 0; i < 3; ++i) EXPECT_EQ(store.ReadString(kSettings, kPort, ""), "COM1");
  EXPECT_EQ(store.FileReads(), 3u);

  store.SetClockForTimes([&now] { return now; });
  for (int i = 0; i < 3; ++i) EXPECT_EQ(store.ReadString(kSettings, kPort, ""), "COM1");
  EXPECT_EQ(store.FileReads(), 4u);

  // A file dated in the future (another machine's clock) is never old enough.
  timespec future = changed;
  future.tv_sec -= 3600;
  store.SetClockForTimes([&future] { return future; });
  LetTheFileClockMove();
  WriteText(File(), "[Settings]\nPort=COM2\n");
  for (int i = 0; i < 3; ++i) EXPECT_EQ(store.ReadString(kSettings, kPort, ""), "COM2");
  EXPECT_EQ(store.FileReads(), 7u);
}

TEST_F(SettingsStoreTest, WriteReplacesTheFileWholeInsteadOfRewritingIt) {
  SettingsStore store(Folder());
  store.WriteString(kSettings, kPort, "COM1");
  const std::string before = ReadText(File());
  // A reader that opened the file before a write still reads the old content complete.
  std::ifstream reader(File(), std::ios::binary);
  ASSERT_TRUE(reader.is_open());
  store.WriteString(kSettings, kPort, "COM2");
  std::ostringstream seen;
  seen << reader.rdbuf();
  EXPECT_EQ(seen.str(), before);
  EXPECT_EQ(store.ReadString(kSettings, kPort, ""), "COM2");
}

TEST_F(SettingsStoreTest, HandWrittenFilesAreReadAndKeptOnRewrite) {
  WriteText(File(),
            "\xEF\xBB\xBF; settings of the UPS monitor\r\n"
            "[ Settings ]\r\n"
            "  Port = COM5  \r\n"
            "# a remark\r\n"
            "not a setting\r\n"
            "Interval=\t10\r\n"
            "\r\n"
            "[Sense]\r\n"
            "BatterySound=C:\\Sounds\\alarm.wav\r\n"
            "Battery\n"
            "[settings]\n"
            "port=COM6\n"
            "Beeper=0\n");
  SettingsStore store(Folder());
  EXPECT_EQ(store.ReadString(kSettings, kPort, ""), "COM5");
  EXPECT_EQ(store.ReadInteger(kSettings, kInterval, 0), 10);
  EXPECT_EQ(store.ReadString(kSense, kBatterySound, ""), "C:\\Sounds\\alarm.wav");
  EXPECT_FALSE(store.ReadBool(kSettings, kBeeper, true));  // second [settings] section
  EXPECT_EQ(store.ReadString(kSense, kBattery, "none"), "none");

  store.WriteInteger(kSettings, kInterval, 3);  // replaces in place
  store.WriteBool(kSense, kBattery, true);      // new key after the section's last entry
  store.WriteString(kSettings, kPort, "COM7");  // first occurrence replaced, later one dropped

  EXPECT_EQ(ReadText(File()),
            "; settings of the UPS monitor\n"
            "[ Settings ]\n"
            "Port=COM7\n"
            "# a remark\n"
            "not a setting\n"
            "Interval=3\n"
            "\n"
            "[Sense]\n"
            "BatterySound=C:\\Sounds\\alarm.wav\n"
            "Battery=1\n"
            "Battery\n"
            "[settings]\n"
            "Beeper=0\n");
}

TEST_F(SettingsStoreTest, DeletingTouchesOnlyWhatExists) {
  const std::string folder = Folder() + "/never";
  SettingsStore missing(folder);
  missing.DeleteValue(kRun, kAutorunValue);
  struct stat info {};
  EXPECT_NE(::stat(folder.c_str(), &info), 0) << "deleting from nothing created the folder";

  SettingsStore store(Folder());
  store.WriteString(kSettings, kPort, "COM1");
  store.WriteString(kSettings, kVersion, "0.99.6");
  store.DeleteValue(kSettings, kPort);
  store.DeleteValue(kSettings, kPort);
  store.DeleteValue(kStats, kEnabled);
  EXPECT_EQ(store.ReadString(kSettings, kPort, "none"), "none");
  EXPECT_EQ(store.ReadString(kSettings, kVersion, ""), "0.99.6");
}

TEST_F(SettingsStoreTest, RewriteKeepsThePermissionsOfTheFile) {
  SettingsStore store(Folder());
  store.WriteString(kSettings, kPort, "COM1");
  struct stat info {};
  ASSERT_EQ(::stat(File().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  ASSERT_EQ(::chmod(File().c_str(), 0640), 0);
  store.WriteString(kSettings, kPort, "COM2");
  ASSERT_EQ(::stat(File().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0640u);
}

// A home folder whose name is not UTF-8: the settings go into it, byte for byte, not into a
// sibling named with replacement characters.
TEST(SettingsStoreLocation, AHomeWhoseNameIsNotUtf8IsUsedAsItIs) {
  QTemporaryDir dir;
  const std::string home = dir.path().toStdString() + "/Documents-\xC4\xEE\xEC";  // Windows-1251
  ASSERT_EQ(::mkdir(home.c_str(), 0700), 0);
  const char* saved_home = std::getenv("HOME");
  const std::string saved_home_value = saved_home ? saved_home : "";
  const char* saved = std::getenv("XDG_CONFIG_HOME");
  const std::string saved_value = saved ? saved : "";
  ::unsetenv("XDG_CONFIG_HOME");
  ::setenv("HOME", home.c_str(), 1);
  SettingsStore store;
  store.WriteString(kSettings, kPort, "USB");
  ::setenv("HOME", saved_home_value.c_str(), 1);
  if (saved) ::setenv("XDG_CONFIG_HOME", saved_value.c_str(), 1);
  EXPECT_EQ(store.FilePath(), home + "/.config/QELTA/QELTA MONITOR/1.0.ini");
  EXPECT_EQ(ReadText(home + "/.config/QELTA/QELTA MONITOR/1.0.ini"), "[Settings]\nPort=USB\n");
  size_t entries = 0;
  for ([[maybe_unused]] const auto& entry :
       std::filesystem::directory_iterator(dir.path().toStdString()))
    ++entries;
  EXPECT_EQ(entries, 1u);
  std::filesystem::remove_all(home);  // a name that QTemporaryDir may not remove
}

TEST(SettingsStoreLocation, FollowsXdgConfigHome) {
  QTemporaryDir dir;
  const std::string config = dir.path().toStdString();
  const char* saved = std::getenv("XDG_CONFIG_HOME");
  const std::string saved_value = saved ? saved : "";
  ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
  SettingsStore store;
  store.WriteString(kSettings, kPort, "USB");
  if (saved) {
    ::setenv("XDG_CONFIG_HOME", saved_value.c_str(), 1);
  } else {
    ::unsetenv("XDG_CONFIG_HOME");
  }
  EXPECT_EQ(store.FilePath(), config + "/QELTA/QELTA MONITOR/1.0.ini");
  EXPECT_EQ(ReadText(store.FilePath()), "[Settings]\nPort=USB\n");
}

}  // namespace
}  // namespace qelta
