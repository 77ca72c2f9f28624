// The choice of the process's mode.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <filesystem>
#include <fstream>

#include "monitor/start_mode.h"
#include "settings/memory_settings.h"

namespace qelta {
namespace {

MemorySettings Installed(const char* version) {
  MemorySettings settings;
  settings.WriteBool("Settings", "Installed", true);
  settings.WriteString("Settings", "Version", version);
  return settings;
}

TEST(StartModeTest, UninstallWinsWhateverTheInstallationState) {
  MemorySettings empty;
  EXPECT_EQ(ChooseStartMode({"/uninstall"}, empty).mode, StartMode::Uninstaller);
  MemorySettings installed = Installed("0.99.6");
  EXPECT_EQ(ChooseStartMode({"/uninstall", "/welcome"}, installed).mode, StartMode::Uninstaller);
}

TEST(StartModeTest, ArgumentsCompareExactlyWithCase) {
  MemorySettings installed = Installed("0.99.6");
  EXPECT_EQ(ChooseStartMode({"/UNINSTALL"}, installed).mode, StartMode::Monitor);
  EXPECT_FALSE(ChooseStartMode({"/welcome "}, installed).show_welcome);
  EXPECT_FALSE(ChooseStartMode({"/WELCOME"}, installed).show_welcome);
  EXPECT_TRUE(ChooseStartMode({"/welcome"}, installed).show_welcome);
  // Only the first argument counts.
  EXPECT_FALSE(ChooseStartMode({"x", "/welcome"}, installed).show_welcome);
  EXPECT_EQ(ChooseStartMode({"x", "/uninstall"}, installed).mode, StartMode::Monitor);
}

TEST(StartModeTest, AnyOtherInstallationStateRunsTheInstaller) {
  MemorySettings empty;
  EXPECT_EQ(ChooseStartMode({}, empty).mode, StartMode::Installer);
  for (const char* version : {"", "0.99.5", "0.99.7", "0.99.6 ", "1.0"}) {
    MemorySettings settings = Installed(version);
    EXPECT_EQ(ChooseStartMode({}, settings).mode, StartMode::Installer) << version;
  }
  MemorySettings not_installed = Installed("0.99.6");
  not_installed.WriteBool("Settings", "Installed", false);
  EXPECT_EQ(ChooseStartMode({}, not_installed).mode, StartMode::Installer);
  // "/welcome" without an installation: the installer, and no welcome window.
  const StartChoice choice = ChooseStartMode({"/welcome"}, empty);
  EXPECT_EQ(choice.mode, StartMode::Installer);
  EXPECT_FALSE(choice.show_welcome);
  // A stored boolean of 2 counts as installed.
  MemorySettings two = Installed("0.99.6");
  two.WriteString("Settings", "Installed", "2");
  EXPECT_EQ(ChooseStartMode({}, two).mode, StartMode::Monitor);
}

// The installed program replaced where it stands by another version monitors at once; another
// copy of the program with another version still gets the installer.
TEST(StartModeTest, TheInstalledProgramOfAnotherVersionIsAnUpgradeInPlace) {
  namespace fs = std::filesystem;
  QTemporaryDir root;
  ASSERT_TRUE(root.isValid());
  const std::string base = root.path().toStdString();
  fs::create_directories(base + "/opt/QELTA MONITOR");
  const std::string installed = base + "/opt/QELTA MONITOR/qelta-monitor";
  const std::string elsewhere = base + "/build/qelta-monitor";
  fs::create_directories(base + "/build");
  std::ofstream(installed) << "new build";
  std::ofstream(elsewhere) << "new build";
  // The installation was recorded through a link to its folder.
  fs::create_directory_symlink(base + "/opt", base + "/linked");

  MemorySettings settings = Installed("0.99.5");
  settings.WriteString("Settings", "InstalledTo", base + "/linked/QELTA MONITOR/qelta-monitor");
  StartChoice choice = ChooseStartMode({"/welcome"}, settings, installed);
  EXPECT_EQ(choice.mode, StartMode::Monitor);
  EXPECT_TRUE(choice.upgraded_in_place);
  EXPECT_TRUE(choice.show_welcome);
  RecordUpgradeInPlace(settings);
  EXPECT_EQ(settings.ReadString("Settings", "Version", ""), "0.99.6");
  choice = ChooseStartMode({}, settings, installed);
  EXPECT_EQ(choice.mode, StartMode::Monitor);
  EXPECT_FALSE(choice.upgraded_in_place);

  MemorySettings older = Installed("0.99.5");
  older.WriteString("Settings", "InstalledTo", installed);
  EXPECT_EQ(ChooseStartMode({}, older, elsewhere).mode, StartMode::Installer);
  EXPECT_EQ(ChooseStartMode({}, older, "").mode, StartMode::Installer);
  // Recorded, but gone: nothing to compare with.
  older.WriteString("Settings", "InstalledTo", base + "/gone/qelta-monitor");
  EXPECT_EQ(ChooseStartMode({}, older, installed).mode, StartMode::Installer);
  // Uninstalled since: the installer, whoever starts.
  older.WriteString("Settings", "InstalledTo", installed);
  older.WriteBool("Settings", "Installed", false);
  EXPECT_EQ(ChooseStartMode({}, older, installed).mode, StartMode::Installer);
}

}  // namespace
}  // namespace qelta
