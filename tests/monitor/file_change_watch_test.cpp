// The settings file's change notice: every way the file can change is told, other files in
// its folder are not, and a folder that goes away is watched again once it is back.
#include "platform/file_change_watch.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <filesystem>
#include <fstream>

#include "settings/settings_store.h"

namespace qelta {
namespace {

namespace fs = std::filesystem;

class FileChangeWatchTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static int argc = 1;
    static char name[] = "file_change_watch_test";
    static char* argv[] = {name, nullptr};
    if (QCoreApplication::instance() == nullptr) app_ = new QCoreApplication(argc, argv);
  }
  static void TearDownTestSuite() {
    delete app_;
    app_ = nullptr;
  }

  // Runs the event loop until a change is told or 3 s have passed; true when one was told.
  bool Told() {
    QElapsedTimer elapsed;
    elapsed.start();
    while (told_ == 0 && elapsed.elapsed() < 3000) {
      QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    const bool told = told_ > 0;
    told_ = 0;
    return told;
  }
  // Runs the event loop for a while; true when nothing was told.
  bool Quiet() {
    QElapsedTimer elapsed;
    elapsed.start();
    while (elapsed.elapsed() < 200) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    const bool quiet = told_ == 0;
    told_ = 0;
    return quiet;
  }
  void Watch(FileChangeWatch& watch) {
    watch.SetChangeHandler([this] { ++told_; });
  }

  static inline QCoreApplication* app_ = nullptr;
  QTemporaryDir dir_;
  int told_ = 0;
};

TEST_F(FileChangeWatchTest, EveryChangeOfTheFileIsToldAndOtherFilesAreNot) {
  const std::string folder = dir_.path().toStdString();
  const std::string file = folder + "/1.0.ini";
  FileChangeWatch watch(file);
  Watch(watch);
  ASSERT_TRUE(watch.TellsEveryChange());

  // Created by the store's first write (a rename of a complete temporary file).
  SettingsStore store(folder);
  store.WriteBool("POST", "Perform", true);
  EXPECT_TRUE(Told());
  // Replaced by the next write.
  store.WriteBool("POST", "Perform", false);
  EXPECT_TRUE(Told());
  // Written in place by an editor.
  std::ofstream(file, std::ios::app) << "; note\n";
  EXPECT_TRUE(Told());
  // Its permissions changed.
  fs::permissions(file, fs::perms::owner_read);
  EXPECT_TRUE(Told());
  // Another file of the folder.
  std::ofstream(folder + "/other.txt") << "x";
  EXPECT_TRUE(Quiet());
  // Removed.
  fs::remove(file);
  EXPECT_TRUE(Told());
}

TEST_F(FileChangeWatchTest, AFolderThatGoesAwayStopsTheNoticeUntilItIsBack) {
  const std::string folder = dir_.path().toStdString() + "/QELTA MONITOR";
  const std::string file = folder + "/1.0.ini";
  FileChangeWatch watch(file);
  Watch(watch);
  EXPECT_FALSE(watch.TellsEveryChange());  // no folder yet

  fs::create_directories(folder);
  EXPECT_TRUE(watch.TellsEveryChange());
  fs::remove_all(folder);
  EXPECT_TRUE(Told());
  EXPECT_FALSE(watch.TellsEveryChange());

  fs::create_directories(folder);
  EXPECT_TRUE(watch.TellsEveryChange());
  std::ofstream(file) << "[POST]\nPerform=1\n";
  EXPECT_TRUE(Told());
}

TEST_F(FileChangeWatchTest, AFileReachedThroughAnotherPathCannotBeWatchedHere) {
  const std::string folder = dir_.path().toStdString();
  const std::string file = folder + "/1.0.ini";
  fs::create_directories(folder + "/elsewhere");
  std::ofstream(folder + "/elsewhere/1.0.ini") << "[POST]\nPerform=0\n";
  FileChangeWatch watch(file);
  Watch(watch);
  EXPECT_TRUE(watch.TellsEveryChange());

  // An edit of the link's target would not be seen in this folder.
  fs::create_symlink(folder + "/elsewhere/1.0.ini", file);
  EXPECT_TRUE(Told());
  EXPECT_FALSE(watch.TellsEveryChange());

  fs::remove(file);
  EXPECT_TRUE(Told());
  EXPECT_TRUE(watch.TellsEveryChange());
  fs::create_hard_link(folder + "/elsewhere/1.0.ini", file);
  EXPECT_TRUE(Told());
  EXPECT_FALSE(watch.TellsEveryChange());
}

// A hard link made after the watch began, then an edit through it: told, and from then on
// the notice says it cannot tell everything (the callers check every second).
TEST_F(FileChangeWatchTest, AnEditThroughAHardLinkMadeLaterIsTold) {
  const std::string folder = dir_.path().toStdString();
  const std::string file = folder + "/1.0.ini";
  fs::create_directories(folder + "/elsewhere");
  std::ofstream(file) << "[POST]\nPerform=0\n";
  FileChangeWatch watch(file);
  Watch(watch);
  ASSERT_TRUE(watch.TellsEveryChange());
  fs::create_hard_link(file, folder + "/elsewhere/1.0.ini");
  EXPECT_TRUE(Told());
  EXPECT_FALSE(watch.TellsEveryChange());
  std::ofstream(folder + "/elsewhere/1.0.ini", std::ios::trunc) << "[POST]\nPerform=1\n";
  EXPECT_TRUE(Told());
}

// The settings folder renamed away and made again with a new file: told once it is back,
// without anyone asking in between.
TEST_F(FileChangeWatchTest, AFolderRenamedAwayAndMadeAgainIsTold) {
  const std::string folder = dir_.path().toStdString() + "/QELTA MONITOR";
  const std::string file = folder + "/1.0.ini";
  fs::create_directories(folder);
  std::ofstream(file) << "[POST]\nPerform=0\n";
  FileChangeWatch watch(file);
  Watch(watch);
  ASSERT_TRUE(watch.TellsEveryChange());
  fs::rename(folder, folder + ".old");
  EXPECT_TRUE(Told());
  fs::create_directories(folder);
  EXPECT_TRUE(Told());
  std::ofstream(file) << "[POST]\nPerform=1\n";
  EXPECT_TRUE(Told());
  EXPECT_TRUE(watch.TellsEveryChange());
  // The old folder's file is not ours any more.
  std::ofstream(folder + ".old/1.0.ini", std::ios::app) << "; note\n";
  EXPECT_TRUE(Quiet());
}

}  // namespace
}  // namespace qelta
