// The uninstallation without a display, in private folders, after a real installation there.
#include <gtest/gtest.h>

#include "install_fixture.h"
#include "monitor/start_mode.h"
#include "settings/autorun_store.h"
#include "settings/settings_store.h"

namespace qelta::testing {
namespace {

namespace fs = std::filesystem;

class UninstallerTest : public InstallFixture {
 protected:
  void SetUp() override {
    InstallFixture::SetUp();
    real_autorun = std::make_unique<AutorunStore>(base + "/home/config/autostart");
    real_entry =
        std::make_unique<SettingsStore>(places.uninstall_entry_folder, places.uninstall_entry_file);
    autorun_store = real_autorun.get();
    entry_store = real_entry.get();
    probe.answering = {"COM3"};
    ASSERT_EQ(Installer().InstallButtonClick(), InstallerLogic::Outcome::Installed);
    settings.closed = false;
    // What the installed program made beside itself, and an older build set aside.
    WriteFile(target + ".stats", "samples");
    WriteFile(target + ".prev", "an older build");
    journal.lines.clear();
  }

  std::unique_ptr<AutorunStore> real_autorun;
  std::unique_ptr<SettingsStore> real_entry;
};

// What killed installations left beside the program, the icon and the launchers goes too.
TEST_F(UninstallerTest, RemovesTheLeftoversOfKilledInstallations) {
  const std::vector<std::string> stale = {
      target + ".new-a1B2c3", places.icon_theme_folder + "/16x16/apps/qelta-monitor.png.new-b2C3d4",
      places.programs_folder + "/QELTA/Удалить QELTA MONITOR.desktop.new-c3D4e5"};
  for (const std::string& path : stale) WriteLeftover(path, 60);
  UninstallProgram(Deps(), boxes);
  for (const std::string& path : stale) EXPECT_FALSE(fs::exists(path)) << path;
  EXPECT_FALSE(fs::exists(places.programs_folder + "/QELTA"));
}

TEST_F(UninstallerTest, RemovesEveryTraceAndKeepsWhatStays) {
  // The installation as the uninstaller finds it.
  ASSERT_TRUE(fs::exists(real_autorun->EntryPath()));
  ASSERT_TRUE(fs::exists(places.UninstallEntryPath()));
  ASSERT_EQ(ChooseStartMode({}, settings).mode, StartMode::Monitor);

  places.settings_file = base + "/home/config/QELTA/QELTA MONITOR/1.0.ini";
  UninstallProgram(Deps(), boxes);

  // The done box names what stays.
  EXPECT_EQ(journal.Only({"box", "close", "settings"}),
            (std::vector<std::string>{
                "box question [QELTA MONITOR] Вы действительно хотите удалить QELTA MONITOR?",
                "close monitors",
                "settings Settings/Installed=0",
                "box information [QELTA MONITOR] Удаление QELTA MONITOR завершено.\n\nВаши "
                "настройки и файл статистики сохранены; удалите их сами, если они больше не "
                "нужны.\nНастройки: " +
                    places.settings_file + "\nСтатистика: " + target + ".stats",
            }));
  // Nothing was touched before the running monitors were closed.
  EXPECT_EQ(journal.lines[1], "close monitors");

  const std::map<std::string, std::string> left = {
      {".local", "<folder>"},
      {".local/opt", "<folder>"},
      {".local/opt/QELTA MONITOR", "<folder>"},
      {".local/opt/QELTA MONITOR/qelta-monitor.prev", "an older build"},
      {".local/opt/QELTA MONITOR/qelta-monitor.stats", "samples"},
      {"config", "<folder>"},
      {"config/autostart", "<folder>"},
      {"share", "<folder>"},
      {"share/applications", "<folder>"},
      {"share/icons", "<folder>"},
      {"share/icons/hicolor", "<folder>"},
  };
  EXPECT_EQ(Tree(base + "/home"), left);

  // The settings stay, except that nothing is recorded as installed: the next start installs.
  EXPECT_EQ(settings.ReadString("Settings", "InstalledTo", ""), target);
  EXPECT_EQ(settings.ReadString("Settings", "Port", ""), "COM3");
  EXPECT_EQ(ChooseStartMode({}, settings).mode, StartMode::Installer);
  EXPECT_EQ(ChooseStartMode({"/welcome"}, settings).mode, StartMode::Installer);
}

TEST_F(UninstallerTest, TheInstallFolderGoesWhenNothingElseIsInIt) {
  fs::remove(target + ".stats");
  fs::remove(target + ".prev");
  UninstallProgram(Deps(), boxes);
  EXPECT_FALSE(fs::exists(install_folder));
  // The folder above it was there before the installation, as far as anyone knows.
  EXPECT_TRUE(fs::is_directory(base + "/home/.local/opt"));
}

TEST_F(UninstallerTest, DecliningChangesNothing) {
  const auto before = Tree(base + "/home");
  boxes.answer_yes = false;
  UninstallProgram(Deps(), boxes);
  EXPECT_EQ(journal.lines,
            (std::vector<std::string>{"box question [QELTA MONITOR] Вы "
                                      "действительно хотите удалить QELTA MONITOR?"}));
  EXPECT_EQ(Tree(base + "/home"), before);
  EXPECT_EQ(ChooseStartMode({}, settings).mode, StartMode::Monitor);
}

TEST_F(UninstallerTest, KeepsFilesOfOthersInSharedFolders) {
  // Another program's icon and launcher folder, and a file of the user's in the launchers'
  // folder.
  WriteFile(places.icon_theme_folder + "/16x16/apps/other.png", "other");
  WriteFile(places.programs_folder + "/QELTA/notes.txt", "mine");
  UninstallProgram(Deps(), boxes);
  EXPECT_EQ(ReadFile(places.icon_theme_folder + "/16x16/apps/other.png"), "other");
  EXPECT_EQ(ReadFile(places.programs_folder + "/QELTA/notes.txt"), "mine");
  EXPECT_FALSE(fs::exists(places.programs_folder + "/QELTA/QELTA MONITOR.desktop"));
  EXPECT_FALSE(fs::exists(places.icon_theme_folder + "/scalable"));
}

TEST_F(UninstallerTest, LeavesAnExecutableItDidNotCopy) {
  // Registered where it is, as a packaged program is: the executable is the package's.
  files.read_only.insert(base + "/build");
  probe.answering = {"COM3"};
  ASSERT_EQ(Installer().InstallButtonClick(), InstallerLogic::Outcome::Installed);
  settings.closed = false;
  journal.lines.clear();
  UninstallProgram(Deps(), boxes);
  EXPECT_EQ(ReadFile(executable), "the program, new build");
  for (const std::string& line : journal.Only({"file remove", "file rename"})) {
    EXPECT_TRUE(line.starts_with("file remove " + base + "/home/")) << line;
  }
  EXPECT_FALSE(fs::exists(places.programs_folder + "/QELTA/QELTA MONITOR.desktop"));
  EXPECT_FALSE(fs::exists(places.UninstallEntryPath()));

  // An installation recorded before copies were marked: its file is left alone as well.
  settings.DeleteValue("Settings", "InstalledCopy");
  settings.WriteString("Settings", "InstalledTo", target);
  journal.lines.clear();
  UninstallProgram(Deps(), boxes);
  EXPECT_EQ(ReadFile(target), "the program, new build");
  EXPECT_TRUE(journal.Only({"file remove " + target}).empty());
}

}  // namespace
}  // namespace qelta::testing
