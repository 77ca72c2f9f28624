// Several processes on one settings file: concurrent writers, and a writer killed mid-write.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QTemporaryDir>

#include "settings/settings_store.h"
#include "settings_test_support.h"

namespace qelta {
namespace {

using testing::FolderEntries;
using testing::ReadReport;
using testing::StartWriter;
using testing::WriterProcess;

int WaitFor(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return status;
}

TEST(SettingsStoreProcesses, TwoWritersAtOnceLoseNothing) {
  QTemporaryDir dir;
  const std::string folder = dir.path().toStdString();
  constexpr int kCount = 1000;
  WriterProcess first = StartWriter(folder, "a", kCount);
  WriterProcess second = StartWriter(folder, "b", kCount);

  int last_first = -1;
  int last_second = -1;
  int index = 0;
  while (ReadReport(first.output, index)) last_first = index;
  while (ReadReport(second.output, index)) last_second = index;
  ::close(first.output);
  ::close(second.output);
  const int status_first = WaitFor(first.pid);
  const int status_second = WaitFor(second.pid);
  ASSERT_TRUE(WIFEXITED(status_first) && WEXITSTATUS(status_first) == 0) << status_first;
  ASSERT_TRUE(WIFEXITED(status_second) && WEXITSTATUS(status_second) == 0) << status_second;
  ASSERT_EQ(last_first, kCount - 1);
  ASSERT_EQ(last_second, kCount - 1);

  const std::string text = testing::ReadText(folder + "/1.0.ini");
  const IniDocument document = IniDocument::Parse(text);
  int found = 0;
  for (int i = 0; i < kCount; ++i) {
    for (const char* prefix : {"a", "b"}) {
      const std::string key = prefix + std::to_string(i);
      const std::optional<std::string> value = document.Find("Keys", key);
      EXPECT_EQ(value, std::to_string(i)) << key;
      if (value) ++found;
    }
  }
  EXPECT_EQ(found, 2 * kCount);
  EXPECT_EQ(FolderEntries(folder), (std::vector<std::string>{"1.0.ini", "1.0.ini.lock"}));
}

TEST(SettingsStoreProcesses, WriterKilledMidWriteLeavesEveryCompletedValue) {
  QTemporaryDir dir;
  const std::string folder = dir.path().toStdString();
  SettingsStore store(folder);
  store.WriteString("Settings", "Port", "COM4");

  WriterProcess writer = StartWriter(folder, "k", 1000000);
  int index = -1;
  int reported = 0;
  while (reported < 150 && ReadReport(writer.output, index)) ++reported;
  ASSERT_EQ(reported, 150) << "the writer stopped early";
  ASSERT_EQ(::kill(writer.pid, SIGKILL), 0);
  // Writes completed before the kill but not yet read from the pipe count as well.
  int last = index;
  while (ReadReport(writer.output, index)) last = index;
  ::close(writer.output);
  const int status = WaitFor(writer.pid);
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;

  SettingsStore reader(folder);
  EXPECT_EQ(reader.ReadString("Settings", "Port", ""), "COM4");
  for (int i = 0; i <= last; ++i) {
    ASSERT_EQ(reader.ReadInteger("Keys", "k" + std::to_string(i), -1), i) << "k" << i;
  }
  // The write that was cut off is there completely or not at all.
  const int next = reader.ReadInteger("Keys", "k" + std::to_string(last + 1), -1);
  EXPECT_TRUE(next == -1 || next == last + 1) << next;

  // The lock died with the writer; the next write works and clears what the writer left.
  store.WriteString("Settings", "Port", "COM5");
  EXPECT_EQ(reader.ReadString("Settings", "Port", ""), "COM5");
  EXPECT_EQ(FolderEntries(folder), (std::vector<std::string>{"1.0.ini", "1.0.ini.lock"}));
}

}  // namespace
}  // namespace qelta
