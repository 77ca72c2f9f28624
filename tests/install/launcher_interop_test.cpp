// The launchers the installer writes, as programs no one here wrote see them: GLib's
// `gio launch` (what GNOME and other GLib-based desktops do) must start the installed
// program with its argument, and `desktop-file-validate` must find nothing wrong. A folder
// for which no launcher can satisfy both is refused with the error box.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QProcess>
#include <QThread>

#include "install_fixture.h"

namespace qelta::testing {
namespace {

namespace fs = std::filesystem;
using Outcome = InstallerLogic::Outcome;

// Runs a program with arguments; its exit code, or -1 when it did not run or end.
int RunProgram(const QString& program, const QStringList& arguments, QString* output = nullptr) {
  QProcess process;
  process.setProcessChannelMode(QProcess::MergedChannels);
  process.start(program, arguments);
  if (!process.waitForFinished(30000)) return -1;
  if (output) *output = QString::fromUtf8(process.readAll());
  return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

class LauncherInteropTest : public InstallFixture {
 protected:
  void SetUp() override {
    InstallFixture::SetUp();
    // The program leaves its arguments beside itself.
    WriteFile(executable, "#!/bin/sh\necho \"run $*\" > \"$(dirname \"$0\")/ran\"\n", 0755);
  }
};

TEST_F(LauncherInteropTest, GioStartsTheProgramFromEveryLauncherOrTheFolderIsRefused) {
  if (access("/usr/bin/gio", X_OK) != 0 || access("/usr/bin/desktop-file-validate", X_OK) != 0) {
    GTEST_SKIP() << "needs gio (libglib2.0-bin) and desktop-file-validate (desktop-file-utils)";
  }
  const std::string home = base + "/home/.local/opt/";
  for (const std::string& name : {std::string("QELTA MONITOR"), std::string("it's \"quoted\" $x"),
                                  std::string("back\\slash `tick`"), std::string("50% off")}) {
    SCOPED_TRACE(name);
    const std::string folder = home + name;
    journal.lines.clear();
    settings.closed = false;
    InstallerLogic& installer = Installer();
    installer.SetPath(folder);
    const Outcome outcome = installer.InstallButtonClick();
    if (name.find('%') != std::string::npos) {
      // No Exec line serves both: "%%" is what the desktop entry standard asks for and GLib cannot
      // load, a lone "%" a field code that the launch drops.
      EXPECT_EQ(outcome, Outcome::StayOpen);
      EXPECT_EQ(journal.Only({"box"}),
                (std::vector<std::string>{
                    "box question [QELTA MONITOR] Вы хотите установить программу QELTA MONITOR "
                    "на ваш компьютер?",
                    "box error [Ошибка] Невозможно установить в папку, имя которой содержит "
                    "знак \"%\": " +
                        folder + ". Выберите другую папку."}));
      EXPECT_FALSE(fs::exists(folder));
      continue;
    }
    ASSERT_EQ(outcome, Outcome::Installed);
    const std::string launchers = places.programs_folder + "/QELTA";
    for (const auto& [launcher, argument] :
         {std::pair<std::string, std::string>{"QELTA MONITOR.desktop", ""},
          std::pair<std::string, std::string>{"Удалить QELTA MONITOR.desktop", "/uninstall"}}) {
      const QString path = QString::fromStdString(launchers + '/' + launcher);
      QString said;
      EXPECT_EQ(RunProgram("desktop-file-validate", {path}, &said), 0) << said.toStdString();
      EXPECT_TRUE(said.isEmpty()) << said.toStdString();
      const std::string ran = folder + "/ran";
      fs::remove(ran);
      EXPECT_EQ(RunProgram("gio", {"launch", path}, &said), 0) << said.toStdString();
      QElapsedTimer waited;
      waited.start();
      while (!fs::exists(ran) && waited.elapsed() < 20000) QThread::msleep(50);
      EXPECT_EQ(ReadFile(ran), "run " + argument + "\n") << launcher;
    }
  }
}

// A folder whose name is not UTF-8 (a home folder named in an old single-byte encoding):
// refused before anything is made, rather than launchers that name another file.
TEST_F(LauncherInteropTest, AFolderWhoseNameIsNotUtf8IsRefused) {
  const std::string folder = base + "/home/\xC4\xEE\xEC/QELTA MONITOR";
  InstallerLogic& installer = Installer();
  installer.SetPath(folder);
  EXPECT_EQ(installer.InstallButtonClick(), Outcome::StayOpen);
  const std::vector<std::string> boxes = journal.Only({"box error"});
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_TRUE(boxes[0].starts_with(
      "box error [Ошибка] Невозможно установить в папку, имя которой не в кодировке UTF-8: "));
  EXPECT_FALSE(fs::exists(base + "/home/\xC4\xEE\xEC"));
  EXPECT_FALSE(fs::exists(places.programs_folder + "/QELTA"));
}

}  // namespace
}  // namespace qelta::testing
