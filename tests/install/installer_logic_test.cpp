// The installation without a display, in private folders.
#include <gtest/gtest.h>

#include <algorithm>

#include "install_fixture.h"

namespace qelta::testing {
namespace {

namespace fs = std::filesystem;
using Outcome = InstallerLogic::Outcome;

const std::vector<std::string> kVisible = {"box",     "status", "close", "settings",
                                           "autorun", "entry",  "query", "start"};

const std::string kNotFound =
    "box error [QELTA MONITOR] UPS не обнаружен ни на одном порту.\n"
    "Проверьте подключение UPS к компьютеру.\n"
    "Возможно, порт, к которому подключен UPS, используется другой программой.\n"
    "\n"
    "После запуска программы вы сможете произвести повторный поиск UPS или выбрать порт вручную в "
    "разделе \"Конфигурация\".";

size_t IndexOf(const std::vector<std::string>& lines, const std::string& line) {
  return static_cast<size_t>(std::find(lines.begin(), lines.end(), line) - lines.begin());
}

using InstallerTest = InstallFixture;

TEST_F(InstallerTest, FreshInstallDoesEveryStepInOrder) {
  probe.answering = {"COM2"};
  InstallerLogic& installer = Installer();
  EXPECT_EQ(installer.Path(), install_folder);
  ASSERT_EQ(installer.InstallButtonClick(), Outcome::Installed);

  const std::vector<std::string> expected = {
      "box question [QELTA MONITOR] Вы хотите установить программу QELTA MONITOR на ваш "
      "компьютер?",
      "status Создание папки...",
      "status Поиск запущенной программы...",
      "close monitors",
      "status Копирование...",
      "settings Settings/InstalledTo=" + target,
      "settings Settings/InstalledCopy=1",
      "status Создание ярлыков...",
      "autorun Run/QELTA MONITOR=" + target,
      "status Поиск UPS QELTA: Сеть...",
      "query NET",
      "status Поиск UPS QELTA: USB...",
      "query USB",
      "status Поиск UPS QELTA: COM1...",
      "query COM1",
      "status Поиск UPS QELTA: COM2...",
      "query COM2",
      "box information [QELTA MONITOR] UPS обнаружен подключенным к порту COM2.",
      "settings Settings/Port=COM2",
      "status Завершение установки...",
      "entry QELTA MONITOR/DisplayName=QELTA MONITOR 0.99.6",
      "entry QELTA MONITOR/Publisher=QELTA",
      "entry QELTA MONITOR/UninstallString=" + target + " /uninstall",
      "entry QELTA MONITOR/URLInfoAbout=https://www.qelta.example/",
      "settings Settings/Installed=1",
      "settings Settings/Version=0.99.6",
      "settings Settings/Interval=3",
      "settings Sense/Battery=1",
      "settings Sense/BatteryTime=10",
      "settings Sense/BatteryPercent=1",
      "settings Sense/BatteryPercentValue=80",
      "settings Sense/BatteryShutdown=1",
      "settings Sense/BatteryShutdownCountdown=60",
      "close settings",
      "status ",
      "box information [QELTA MONITOR] Установка программы QELTA MONITOR завершена.",
      "start " + target + " /welcome in " + install_folder + "/",
  };
  EXPECT_EQ(journal.Only(kVisible), expected);

  // The program, executable, and nothing set aside.
  EXPECT_EQ(ReadFile(target), "the program, new build");
  EXPECT_TRUE(fs::status(target).permissions() == fs::perms(0755));
  EXPECT_FALSE(fs::exists(target + ".prev"));
  // Only the install folder was made before the running monitors were closed.
  const std::vector<std::string> files_before_close = std::vector<std::string>(
      journal.lines.begin(), journal.lines.begin() + IndexOf(journal.lines, "close monitors"));
  for (const std::string& line : files_before_close) {
    if (line.starts_with("file ")) {
      EXPECT_EQ(line, "file mkdir " + install_folder);
    }
  }

  // The icon, then both launchers, naming the installed program and the icon.
  const std::string launchers = places.programs_folder + "/QELTA/";
  EXPECT_EQ(ReadFile(places.icon_theme_folder + "/16x16/apps/qelta-monitor.png"), "png of 16");
  EXPECT_EQ(ReadFile(places.icon_theme_folder + "/scalable/apps/qelta-monitor.svg"), "svg");
  const std::string program = ReadFile(launchers + "QELTA MONITOR.desktop");
  const std::string uninstall = ReadFile(launchers + "Удалить QELTA MONITOR.desktop");
  const std::string exec = "Exec=\"" + target + "\"\n";
  EXPECT_NE(program.find("\nName=QELTA MONITOR\n"), std::string::npos) << program;
  EXPECT_NE(program.find(exec), std::string::npos) << program;
  EXPECT_NE(program.find("\nIcon=qelta-monitor\n"), std::string::npos) << program;
  EXPECT_NE(uninstall.find("\nName=Удалить QELTA MONITOR\n"), std::string::npos) << uninstall;
  EXPECT_NE(uninstall.find("Exec=\"" + target + "\" /uninstall\n"), std::string::npos) << uninstall;
  EXPECT_NE(uninstall.find("\nIcon=qelta-monitor\n"), std::string::npos) << uninstall;
  EXPECT_LT(IndexOf(journal.lines,
                    "file write " + places.icon_theme_folder + "/scalable/apps/qelta-monitor.svg"),
            IndexOf(journal.lines, "file write " + launchers + "QELTA MONITOR.desktop"));
}

TEST_F(InstallerTest, ProgramInAFolderTheUserCannotWriteIsRegisteredWhereItIs) {
  // As from a package: the executable in a system folder, an earlier copy recorded elsewhere.
  const std::string system_folder = base + "/build";
  files.read_only.insert(system_folder);
  settings.WriteString("Settings", "InstalledTo", target);
  journal.lines.clear();
  InstallerLogic& installer = Installer();
  EXPECT_EQ(installer.Path(), system_folder);
  EXPECT_TRUE(installer.RegistersInPlace());
  ASSERT_EQ(installer.InstallButtonClick(), Outcome::Installed);

  // Nothing copied, removed, renamed or written: the package's menu entry and icons serve, and
  // no launcher, icon copy or uninstall entry of the user's outlives the package.
  for (const std::string& line : journal.Only({"file "})) {
    EXPECT_TRUE(line.starts_with("file mkdir " + system_folder)) << line;
  }
  EXPECT_EQ(ReadFile(executable), "the program, new build");
  EXPECT_FALSE(fs::exists(install_folder));
  EXPECT_FALSE(fs::exists(places.programs_folder + "/QELTA"));
  EXPECT_FALSE(fs::exists(places.icon_theme_folder));
  // Everything points at the executable as it is.
  EXPECT_EQ(journal.Only({"settings Settings/Installed", "autorun", "entry", "start"}),
            (std::vector<std::string>{
                "settings Settings/InstalledTo=" + executable,
                "settings Settings/InstalledCopy=0",
                "autorun Run/QELTA MONITOR=" + executable,
                "settings Settings/Installed=1",
                "start " + executable + " /welcome in " + system_folder + "/",
            }));
}

TEST_F(InstallerTest, UserMayStillCopyFromAFolderTheyCannotWrite) {
  files.read_only.insert(base + "/build");
  InstallerLogic& installer = Installer();
  EXPECT_TRUE(installer.RegistersInPlace());
  folders.chosen = QString::fromStdString(base + "/home/.local/opt");
  installer.ChoosePathClick();
  ASSERT_EQ(installer.Path(), install_folder);
  EXPECT_FALSE(installer.RegistersInPlace());
  ASSERT_EQ(installer.InstallButtonClick(), Outcome::Installed);
  EXPECT_EQ(ReadFile(target), "the program, new build");
  EXPECT_EQ(journal.Only({"settings Settings/InstalledCopy"}),
            std::vector<std::string>{"settings Settings/InstalledCopy=1"});
}

TEST_F(InstallerTest, StartedFromItsOwnInstallFolderRecordsNoCopy) {
  WriteFile(target, "the program, new build", 0755);
  deps_executable = target;
  ASSERT_EQ(Installer().InstallButtonClick(), Outcome::Installed);
  EXPECT_TRUE(journal.Only({"file copy", "file remove", "file rename"}).empty());
  EXPECT_EQ(journal.Only({"settings Settings/InstalledCopy"}),
            std::vector<std::string>{"settings Settings/InstalledCopy=0"});
}

TEST_F(InstallerTest, FolderWithOrWithoutTrailingSlashGivesOneTarget) {
  EXPECT_EQ(InstallTargetFor("/opt/QELTA MONITOR", "/build/bin/qelta-monitor"),
            "/opt/QELTA MONITOR/qelta-monitor");
  EXPECT_EQ(InstallTargetFor("/opt/QELTA MONITOR/", "/build/bin/qelta-monitor"),
            "/opt/QELTA MONITOR/qelta-monitor");
  // The installed copy keeps the name the installer was started under.
  EXPECT_EQ(InstallTargetFor("/opt/x", "/tmp/my-monitor"), "/opt/x/my-monitor");
  EXPECT_EQ(InstallTargetFor("", "/tmp/my-monitor"), "my-monitor");

  InstallerLogic& installer = Installer();
  installer.SetPath(install_folder + "/");
  ASSERT_EQ(installer.InstallButtonClick(), Outcome::Installed);
  settings.closed = false;
  EXPECT_EQ(settings.ReadString("Settings", "InstalledTo", ""), target);
}

TEST_F(InstallerTest, ReinstallClosesTheRunningMonitorsBeforeReplacingTheProgram) {
  WriteFile(target, "the program, old build", 0755);
  std::string seen_while_closing;
  while_closing = [&] { seen_while_closing = ReadFile(target); };
  ASSERT_EQ(Installer().InstallButtonClick(), Outcome::Installed);
  EXPECT_EQ(seen_while_closing, "the program, old build");
  EXPECT_EQ(ReadFile(target), "the program, new build");
  EXPECT_FALSE(fs::exists(target + ".prev"));
  EXPECT_LT(IndexOf(journal.lines, "close monitors"),
            IndexOf(journal.lines, "file remove " + target));
}

// Over an earlier installation (an older version, or one uninstalled since) the user's choices
// stay and only the missing defaults are written; the done box says so.
TEST_F(InstallerTest, ReinstallKeepsTheUsersSettingsAndWritesOnlyWhatIsMissing) {
  for (const bool still_installed : {true, false}) {
    SCOPED_TRACE(still_installed);
    settings.WriteBool("Settings", "Installed", still_installed);
    settings.WriteString("Settings", "Version", "0.99.5");
    settings.WriteBool("Sense", "BatteryShutdown", false);
    settings.WriteInteger("Sense", "BatteryTime", 300);
    settings.WriteString("Sense", "BatteryPercentValue", "");
    settings.DeleteValue("Settings", "Interval");
    settings.DeleteValue("Sense", "BatteryShutdownCountdown");
    journal.lines.clear();
    ASSERT_EQ(Installer().InstallButtonClick(), Outcome::Installed);
    settings.closed = false;
    EXPECT_FALSE(settings.ReadBool("Sense", "BatteryShutdown", true));
    EXPECT_EQ(settings.ReadInteger("Sense", "BatteryTime", 0), 300);
    EXPECT_EQ(settings.ReadString("Sense", "BatteryPercentValue", "none"), "");
    EXPECT_EQ(
        journal.Only({"settings Settings/I", "settings Settings/V", "settings Sense"}),
        (std::vector<std::string>{
            "settings Settings/InstalledTo=" + target, "settings Settings/InstalledCopy=1",
            "settings Settings/Installed=1", "settings Settings/Version=0.99.6",
            "settings Settings/Interval=3", "settings Sense/Battery=1",
            "settings Sense/BatteryPercent=1", "settings Sense/BatteryShutdownCountdown=60"}));
    EXPECT_EQ(journal.Only({"box information [QELTA MONITOR] Установка"}),
              std::vector<std::string>{
                  "box information [QELTA MONITOR] Установка программы QELTA MONITOR "
                  "завершена.\n\nВаши прежние настройки сохранены. Изменить их можно в разделе "
                  "\"Конфигурация\"."});
    settings.DeleteValue("Sense", "Battery");
    settings.DeleteValue("Sense", "BatteryPercent");
  }
}

// A typed "~" is the home folder; a relative folder is refused with the error box, whatever
// folder the installer happens to run in.
TEST_F(InstallerTest, FolderWithTildeGoesHomeAndARelativeFolderIsRefused) {
  places.home = base + "/home";
  const fs::path started_in = fs::current_path();
  fs::current_path(base);
  InstallerLogic& installer = Installer();
  installer.SetPath("Programs");
  const Outcome relative = installer.InstallButtonClick();
  fs::current_path(started_in);
  ASSERT_EQ(relative, Outcome::StayOpen);
  EXPECT_EQ(journal.Only(kVisible),
            (std::vector<std::string>{
                "box question [QELTA MONITOR] Вы хотите установить программу QELTA MONITOR на "
                "ваш компьютер?",
                "status Создание папки...",
                "box error [Ошибка] Невозможно установить в папку \"Programs\".\nУкажите полный "
                "путь к папке: он начинается с \"/\" (или с \"~/\" для вашей домашней папки).",
                "status ",
            }));
  EXPECT_TRUE(journal.Only({"file"}).empty());
  EXPECT_FALSE(fs::exists(base + "/Programs"));

  installer.SetPath("~/Programs");
  ASSERT_EQ(installer.InstallButtonClick(), Outcome::Installed);
  EXPECT_EQ(installer.Path(), base + "/home/Programs");
  EXPECT_EQ(ReadFile(base + "/home/Programs/qelta-monitor"), "the program, new build");
  settings.closed = false;
  EXPECT_EQ(settings.ReadString("Settings", "InstalledTo", ""),
            base + "/home/Programs/qelta-monitor");
  EXPECT_FALSE(fs::exists(base + "/~"));
}

TEST_F(InstallerTest, ProgramThatCannotBeRemovedIsSetAside) {
  // Something in the program's place that no one can remove, root included: a folder with a
  // file in it. An older set-aside copy makes room first.
  WriteFile(target + "/inside", "kept");
  WriteFile(target + ".prev", "an older build");
  ASSERT_EQ(Installer().InstallButtonClick(), Outcome::Installed);
  EXPECT_EQ(ReadFile(target + ".prev/inside"), "kept");
  EXPECT_EQ(ReadFile(target), "the program, new build");
  const std::vector<std::string> steps = journal.Only(
      {"file remove " + target, "file rename", "file copy", "settings Settings/InstalledTo"});
  EXPECT_EQ(steps, (std::vector<std::string>{
                       "file remove " + target,
                       "file remove " + target + ".prev",
                       "file rename " + target + " -> " + target + ".prev",
                       "file copy " + executable + " -> " + target,
                       "settings Settings/InstalledTo=" + target,
                   }));
}

// Installations killed half-way left temporary copies of the program, the icon and a
// launcher: the next installation removes them, but not one that another installation,
// running meanwhile, is writing, nor a name that only looks like one.
TEST_F(InstallerTest, LeftoversOfKilledInstallationsGoAtTheNextOne) {
  const std::string icon = places.icon_theme_folder + "/scalable/apps/qelta-monitor.svg";
  const std::string launcher = places.programs_folder + "/QELTA/QELTA MONITOR.desktop";
  const std::vector<std::string> stale = {target + ".new-a1B2c3", target + ".new-ZZZZZZ",
                                          icon + ".new-x9y8z7", launcher + ".new-Qq0Ww1"};
  for (const std::string& path : stale) WriteLeftover(path, 3600);
  const std::string current = target + ".new-n0wN0w";
  WriteLeftover(current, -3600);
  const std::string other = target + ".new-toolong1";
  WriteLeftover(other, 3600);
  fs::create_symlink(current, target + ".new-L1nkL1");
  ASSERT_EQ(Installer().InstallButtonClick(), Outcome::Installed);
  for (const std::string& path : stale) EXPECT_FALSE(fs::exists(path)) << path;
  EXPECT_TRUE(fs::exists(current));
  EXPECT_TRUE(fs::exists(other));
  EXPECT_TRUE(fs::is_symlink(target + ".new-L1nkL1"));
  EXPECT_EQ(ReadFile(target), "the program, new build");
}

TEST_F(InstallerTest, FolderThatCannotBeMadeShowsTheErrorAndLetsTheUserTryAgain) {
  // A file where a parent folder should be: no one can make the folder.
  WriteFile(base + "/blocked", "a file");
  InstallerLogic& installer = Installer();
  installer.SetPath(base + "/blocked/QELTA MONITOR");
  ASSERT_EQ(installer.InstallButtonClick(), Outcome::StayOpen);
  EXPECT_EQ(journal.Only(kVisible),
            (std::vector<std::string>{
                "box question [QELTA MONITOR] Вы хотите установить программу QELTA MONITOR на "
                "ваш компьютер?",
                "status Создание папки...",
                "box error [Ошибка] Невозможно создать " + base + "/blocked/QELTA MONITOR",
                "status ",
            }));

  installer.SetPath(install_folder);
  EXPECT_EQ(installer.InstallButtonClick(), Outcome::Installed);
  EXPECT_EQ(ReadFile(target), "the program, new build");
}

TEST_F(InstallerTest, CopyFailureShowsTheErrorAndRecordsNothing) {
  fs::remove(executable);
  ASSERT_EQ(Installer().InstallButtonClick(), Outcome::StayOpen);
  const std::vector<std::string> seen = journal.Only(kVisible);
  ASSERT_GE(seen.size(), 2u);
  EXPECT_EQ(seen[seen.size() - 2], "box error [Ошибка] Невозможно скопировать в " + install_folder);
  EXPECT_EQ(seen.back(), "status ");
  EXPECT_TRUE(journal.Only({"settings", "autorun", "entry", "start"}).empty());
  EXPECT_FALSE(fs::exists(target));
}

TEST_F(InstallerTest, NoUpsFoundProbesEveryCandidateInOrderAndStillCompletes) {
  adapters.adapters = {{"/dev/ttyUSB0", ""}};
  settings.WriteString("Settings", "Port", "COM4");
  journal.lines.clear();
  ASSERT_EQ(Installer().InstallButtonClick(), Outcome::Installed);
  const std::vector<std::string> search = journal.Only({"status Поиск UPS", "query", "box error"});
  // A UPS served on this computer first, shown as the port list shows it.
  std::vector<std::string> expected{"status Поиск UPS QELTA: Сеть...", "query NET"};
  for (const std::string port :
       {"USB", "COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7", "COM8", "/dev/ttyUSB0"}) {
    expected.push_back("status Поиск UPS QELTA: " + port + "...");
    expected.push_back("query " + port);
  }
  expected.push_back(kNotFound);
  EXPECT_EQ(search, expected);
  settings.closed = false;
  EXPECT_EQ(settings.ReadString("Settings", "Port", ""), "COM4");
  EXPECT_TRUE(journal.Only({"settings Settings/Port"}).empty());
  EXPECT_EQ(settings.ReadBool("Settings", "Installed", false), true);
  EXPECT_EQ(journal.Only({"box information"}).back(),
            "box information [QELTA MONITOR] Установка программы QELTA MONITOR завершена.");
  // The search leaves no port override behind.
  EXPECT_EQ(probe.port_override, "");
}

TEST_F(InstallerTest, UpsOnAnAdapterIsBoundToAPortName) {
  adapters.adapters = {{"/dev/ttyUSB0", "/dev/serial/by-id/usb-ups"}};
  probe.answering = {"/dev/serial/by-id/usb-ups"};
  ASSERT_EQ(Installer().InstallButtonClick(), Outcome::Installed);
  EXPECT_EQ(journal.Only({"box information [QELTA MONITOR] UPS"}),
            (std::vector<std::string>{"box information [QELTA MONITOR] UPS обнаружен подключенным "
                                      "к порту COM1 (/dev/serial/by-id/usb-ups)."}));
  settings.closed = false;
  EXPECT_EQ(settings.ReadString("Settings", "Port", ""), "COM1");
  EXPECT_EQ(settings.ReadString("Ports", "COM1", ""), "/dev/serial/by-id/usb-ups");
  EXPECT_EQ(probe.port_override, "");
}

TEST_F(InstallerTest, DecliningTheQuestionDoesNothing) {
  boxes.answer_yes = false;
  ASSERT_EQ(Installer().InstallButtonClick(), Outcome::StayOpen);
  EXPECT_EQ(journal.lines,
            (std::vector<std::string>{"box question [QELTA MONITOR] Вы хотите установить программу "
                                      "QELTA MONITOR на ваш компьютер?"}));
  EXPECT_FALSE(fs::exists(install_folder));
}

TEST_F(InstallerTest, UncheckedBoxesRemoveTheAutostartEntryAndSkipTheStart) {
  autorun.WriteString("Run", "QELTA MONITOR", "/somewhere/else");
  journal.lines.clear();
  InstallerLogic& installer = Installer();
  installer.AutoRun = false;
  installer.RunAfterInstall = false;
  ASSERT_EQ(installer.InstallButtonClick(), Outcome::Installed);
  // The earlier installation's start at log-on goes; nothing is started now.
  EXPECT_EQ(journal.Only({"autorun", "start"}),
            (std::vector<std::string>{"autorun -Run/QELTA MONITOR"}));
  EXPECT_EQ(autorun.ReadString("Run", "QELTA MONITOR", ""), "");
  EXPECT_LT(IndexOf(journal.lines, "status Создание ярлыков..."),
            IndexOf(journal.lines, "autorun -Run/QELTA MONITOR"));
  EXPECT_LT(IndexOf(journal.lines, "autorun -Run/QELTA MONITOR"),
            IndexOf(journal.lines, "status Поиск UPS QELTA: Сеть..."));
}

TEST_F(InstallerTest, InstallingOntoTheRunningExecutableRegistersItInPlace) {
  WriteFile(target, "the installed program", 0755);
  executable = target;
  ASSERT_EQ(Installer().InstallButtonClick(), Outcome::Installed);
  EXPECT_EQ(ReadFile(target), "the installed program");
  EXPECT_FALSE(fs::exists(target + ".prev"));
  EXPECT_TRUE(
      journal.Only({"file remove", "file rename", "file copy", "status Копирование"}).empty());
  settings.closed = false;
  EXPECT_EQ(settings.ReadString("Settings", "InstalledTo", ""), target);
  EXPECT_EQ(journal.Only({"start"}).size(), 1u);
}

TEST_F(InstallerTest, UninstallEntryThatCannotBeWrittenStopsTheInstallation) {
  entry.failing_key = "DisplayName";
  EXPECT_THROW(Installer().InstallButtonClick(), StoreError);
  EXPECT_EQ(journal.Only({"status"}).back(), "status Завершение установки...");
  EXPECT_TRUE(journal
                  .Only({"settings Settings/Installed=", "settings Settings/Version",
                         "settings Sense", "close settings", "start"})
                  .empty());
  EXPECT_TRUE(journal.Only({"box information [QELTA MONITOR] Установка"}).empty());
  // The copy and its record stay; the program is not recorded as installed.
  EXPECT_EQ(settings.ReadString("Settings", "InstalledTo", ""), target);
  EXPECT_FALSE(settings.ReadBool("Settings", "Installed", false));
}

TEST_F(InstallerTest, FormCreateAndTheFolderBrowserChooseTheFolder) {
  EXPECT_EQ(Installer().Path(), base + "/home/.local/opt/QELTA MONITOR");
  EXPECT_EQ(InstallerLogic::Caption().toStdString(), "QELTA MONITOR v0.99.6");
  // A recorded installation: its folder, with the trailing slash.
  settings.WriteString("Settings", "InstalledTo", "/usr/local/qelta/qelta-monitor");
  EXPECT_EQ(Installer().Path(), "/usr/local/qelta/");
  // No known programs folder: the folder name alone.
  settings.DeleteValue("Settings", "InstalledTo");
  places.program_files_dir.clear();
  InstallerLogic& installer = Installer();
  EXPECT_EQ(installer.Path(), "QELTA MONITOR");

  // Cancelled: unchanged.
  installer.ChoosePathClick();
  EXPECT_EQ(folders.asked_title.toStdString(), "Выберите папку для установки");
  EXPECT_EQ(installer.Path(), "QELTA MONITOR");
  folders.chosen = QStringLiteral("/media/disk");
  installer.ChoosePathClick();
  EXPECT_EQ(installer.Path(), "/media/disk/QELTA MONITOR");
  folders.chosen = QStringLiteral("/");
  installer.ChoosePathClick();
  EXPECT_EQ(installer.Path(), "/QELTA MONITOR");
}

TEST_F(InstallerTest, TheFolderBrowserOpensWhereTheProgramFolderIsProposed) {
  // A first installation: ~/.local/opt is not there yet, so the browser opens at the nearest
  // folder above it that is, not at the current folder of the process.
  std::filesystem::create_directories(base + "/home");
  ASSERT_FALSE(std::filesystem::exists(base + "/home/.local/opt"));
  InstallerLogic& installer = Installer();
  ASSERT_EQ(installer.Path(), base + "/home/.local/opt/QELTA MONITOR");
  installer.ChoosePathClick();
  EXPECT_EQ(folders.asked_start.toStdString(), base + "/home/");
  // Once it is there, the browser opens in it.
  std::filesystem::create_directories(base + "/home/.local/opt");
  installer.ChoosePathClick();
  EXPECT_EQ(folders.asked_start.toStdString(), base + "/home/.local/opt/");
}

TEST_F(InstallerTest, ProgramIconHasEverySizeAndTheScalablePicture) {
  const std::vector<IconFile> icon = ProgramIconFiles();
  ASSERT_EQ(icon.size(), 9u);
  for (const int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
    const std::string folder = std::to_string(size) + "x" + std::to_string(size);
    const auto file = std::find_if(icon.begin(), icon.end(), [&](const IconFile& f) {
      return f.theme_path == folder + "/apps/qelta-monitor.png";
    });
    ASSERT_NE(file, icon.end()) << folder;
    // The PNG signature and the picture's width and height in its header.
    ASSERT_GT(file->content.size(), 24u);
    EXPECT_EQ(file->content.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
    const auto byte = [&](size_t at) { return static_cast<unsigned char>(file->content[at]); };
    EXPECT_EQ((byte(16) << 24) | (byte(17) << 16) | (byte(18) << 8) | byte(19), size);
    EXPECT_EQ((byte(20) << 24) | (byte(21) << 16) | (byte(22) << 8) | byte(23), size);
  }
  EXPECT_EQ(icon.back().theme_path, "scalable/apps/qelta-monitor.svg");
  EXPECT_NE(icon.back().content.find("<svg"), std::string::npos);
}

}  // namespace
}  // namespace qelta::testing
