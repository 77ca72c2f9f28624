// The configuration dialog's behaviour without a display: filling, handlers, enabling rules,
// sound browse and preview, the start at log-on.
#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>
#include <cerrno>
#include <cstring>
#include <fstream>

#include "config_fixture.h"
#include "monitor/handler_guard.h"
#include "settings/autorun_store.h"
#include "settings/setting_keys.h"
#include "settings/settings_store.h"
#include "settings_test_support.h"

namespace qelta::testing {
namespace {

using C = ConfigControl;
using Strings = std::vector<std::string>;

using ConfigurationLogicTest = ConfigFixture;

TEST_F(ConfigurationLogicTest, FillingAnEmptyStoreStoresWhatDiffersFromTheInitialStates) {
  Filled();
  // Each value that differs from its control's initial state is stored back as it is put;
  // step 10 then stores the five boxes, each battery box running the sound and shutdown boxes.
  EXPECT_EQ(settings.writes, (Strings{
                                 "Sense/BatteryShutdown=1",
                                 "Sense/BatteryTime=15",
                                 "Sense/BatteryPercentValue=60",
                                 "Sense/BatteryShutdownCountdown=60",
                                 "Settings/CloseInformationOnDeactivate=1",
                                 "Settings/PopupBaloonIn2Secs=1",
                                 "Settings/WarnOnModeChange=1",
                                 "Stats/Enabled=1",
                                 "POST/Perform=0",
                                 "Sense/Battery=0",
                                 "Sense/BatteryPlaySound=0",
                                 "Sense/BatteryShutdown=1",
                                 "Sense/BatteryPercent=0",
                                 "Sense/BatteryPlaySound=0",
                                 "Sense/BatteryShutdown=1",
                                 "Sense/BatteryPlaySound=0",
                                 "Sense/BatteryShutdown=1",
                             }));
  EXPECT_TRUE(autorun.writes.empty());
  const ConfigControls& c = Controls();
  EXPECT_EQ(c.Selected(C::Port), 0);
  EXPECT_EQ(c.Selected(C::Interval), 1);       // 10 seconds, the dialog's own default
  EXPECT_EQ(c.Selected(C::PostInterval), -1);  // 60 matches no entry
  EXPECT_EQ(c.Text(C::SenseTime), "15");
  EXPECT_EQ(c.Text(C::SenseBatteryPercentValue), "60");
  EXPECT_EQ(c.Text(C::SenseShutdownCountdown), "60");
  EXPECT_EQ(c.Text(C::PostURL), kSamplePostUrl);
  EXPECT_EQ(c.Text(C::SenseSound), "");
  EXPECT_TRUE(c.Checked(C::SenseShutdown));
  EXPECT_TRUE(c.Checked(C::CatchStats));
  EXPECT_FALSE(c.Checked(C::AutoRun));
  // No battery warning: its dependants are off, the labels without a rule stay on.
  for (C off :
       {C::SenseTime, C::SensePlaySound, C::SenseShutdown, C::SenseSound, C::SenseSoundPreview,
        C::SenseShutdownCountdown, C::SenseLabel3, C::SenseLabel1, C::SenseLabel2, C::SenseLabel4,
        C::SenseBatteryPercentValue, C::SenseLabel5, C::PostURL, C::PostInterval}) {
    EXPECT_FALSE(c.Enabled(off)) << static_cast<int>(off);
  }
  for (C on : {C::Label3, C::SenseBattery, C::SenseBatteryPercent, C::PerformPost, C::Port,
               C::Interval, C::CatchStats, C::CloseButton}) {
    EXPECT_TRUE(c.Enabled(on)) << static_cast<int>(on);
  }
}

TEST_F(ConfigurationLogicTest, SpinFieldsClampWhatTheyAreGivenAndStoreOnlyAChangedText) {
  settings.WriteInteger(kSense, kBatteryShutdownCountdown, 4000);
  settings.WriteInteger(kSense, kBatteryTime, 2);
  settings.WriteInteger(kSense, kBatteryPercentValue, 95);
  settings.writes.clear();
  Filled();
  EXPECT_EQ(Controls().Text(C::SenseShutdownCountdown), "3600");
  EXPECT_EQ(settings.ReadInteger(kSense, kBatteryShutdownCountdown, 0), 3600);
  // 2 shows as 5, the field's initial text: no handler runs and 2 stays stored.
  EXPECT_EQ(Controls().Text(C::SenseTime), "5");
  EXPECT_EQ(settings.ReadInteger(kSense, kBatteryTime, 0), 2);
  for (const std::string& write : settings.writes)
    EXPECT_FALSE(write.starts_with("Sense/BatteryTime"));
  EXPECT_EQ(Controls().Text(C::SenseBatteryPercentValue), "90");
  EXPECT_EQ(settings.ReadInteger(kSense, kBatteryPercentValue, 0), 90);

  // Typed texts are stored as they stand; an empty or non-numeric one as the minimum.
  settings.writes.clear();
  for (const char* text : {"", "4", "40", "4000", "x"}) Logic().ChangeText(C::SenseTime, text);
  Logic().ChangeText(C::SenseBatteryPercentValue, "");
  EXPECT_EQ(settings.writes, (Strings{"Sense/BatteryTime=5", "Sense/BatteryTime=4",
                                      "Sense/BatteryTime=40", "Sense/BatteryTime=4000",
                                      "Sense/BatteryTime=5", "Sense/BatteryPercentValue=15"}));
}

TEST_F(ConfigurationLogicTest, ListsSelectTheExactStoredEntryWithoutStoringIt) {
  settings.WriteString(kSettings, kPort, "com2");  // not exactly an entry: COM1 shown
  settings.WriteInteger(kSettings, kInterval, 15);
  settings.WriteInteger(kPost, kInterval, 30);
  settings.writes.clear();
  Filled();
  EXPECT_EQ(Controls().Selected(C::Port), 0);
  EXPECT_EQ(Controls().Selected(C::Interval), -1);
  EXPECT_EQ(Controls().Selected(C::PostInterval), 2);
  EXPECT_EQ(settings.ReadString(kSettings, kPort, ""), "com2");
  EXPECT_EQ(settings.ReadInteger(kSettings, kInterval, 0), 15);

  settings.WriteString(kSettings, kPort, "USB");
  ConfigurationLogic second(Deps());
  second.Fill();
  EXPECT_EQ(second.Controls().Selected(C::Port), 8);
  second.ChooseEntry(C::Port, 3);
  EXPECT_EQ(settings.ReadString(kSettings, kPort, ""), "COM4");
}

TEST_F(ConfigurationLogicTest, ChoosingAnIntervalRestartsThePollTimerAtTheNewPeriod) {
  settings.WriteInteger(kSettings, kInterval, 15);
  std::vector<int64_t> polls;
  update_timer->SetHandler([&] { polls.push_back(clock.Now()); });
  update_timer->SetInterval(15000);
  Filled();
  clock.Advance(14000);  // one second before the poll that was due
  Logic().ChooseEntry(C::Interval, 1);
  EXPECT_EQ(settings.ReadInteger(kSettings, kInterval, 0), 10);
  EXPECT_EQ(update_timer->Interval(), 10000);
  EXPECT_TRUE(update_timer->Enabled());
  clock.Advance(25000);
  // The poll that was due at 15 s does not come: the next is one full new period later.
  EXPECT_EQ(polls, (std::vector<int64_t>{24000, 34000}));

  // A timer that was stopped is started again.
  update_timer->SetEnabled(false);
  Logic().ChooseEntry(C::Interval, 0);
  EXPECT_TRUE(update_timer->Enabled());
  EXPECT_EQ(update_timer->Interval(), 3000);
}

TEST_F(ConfigurationLogicTest, ChoosingAReportIntervalStoresItsSecondsAndRestartsTheCount) {
  Filled();
  settings.writes.clear();
  Logic().ChooseEntry(C::PostInterval, 2);
  EXPECT_EQ(settings.writes, Strings{"POST/Interval=30"});
  EXPECT_EQ(post_counter, 0);
}

TEST_F(ConfigurationLogicTest, EveryKeystrokeOfTheAddressIsStored) {
  Filled();
  settings.writes.clear();
  for (const char* text : {"h", "ho", "host/", "host/p"}) Logic().ChangeText(C::PostURL, text);
  EXPECT_EQ(settings.writes,
            (Strings{"POST/URL=h", "POST/URL=ho", "POST/URL=host/", "POST/URL=host/p"}));
}

TEST_F(ConfigurationLogicTest, EnablingRulesFollowTheBoxesAndLeaveStoredValuesAlone) {
  settings.WriteBool(kSense, kBattery, true);
  settings.WriteBool(kSense, kBatteryPlaySound, true);
  settings.WriteBool(kSense, kBatteryShutdown, false);
  settings.WriteBool(kPost, kPerform, true);
  Filled();
  const ConfigControls& c = Controls();
  EXPECT_TRUE(c.Enabled(C::SenseTime));
  EXPECT_TRUE(c.Enabled(C::SenseLabel1));
  EXPECT_FALSE(c.Enabled(C::SenseBatteryPercentValue));
  EXPECT_TRUE(c.Enabled(C::SenseSound));
  EXPECT_TRUE(c.Enabled(C::SenseSoundPreview));
  EXPECT_FALSE(c.Enabled(C::SenseShutdownCountdown));
  EXPECT_FALSE(c.Enabled(C::SenseLabel3));
  EXPECT_TRUE(c.Enabled(C::PostURL));

  // The charge warning alone keeps the shared controls on.
  Logic().Click(C::SenseBatteryPercent, true);
  Logic().Click(C::SenseBattery, false);
  EXPECT_TRUE(c.Enabled(C::SenseTime));
  EXPECT_FALSE(c.Enabled(C::SenseLabel1));
  EXPECT_TRUE(c.Enabled(C::SenseBatteryPercentValue));
  EXPECT_TRUE(c.Enabled(C::SenseSound));
  Logic().Click(C::SenseShutdown, true);
  EXPECT_TRUE(c.Enabled(C::SenseShutdownCountdown));

  // Both warnings off: everything that depends on them is off, nothing is forgotten.
  Logic().ChangeText(C::SenseShutdownCountdown, "120");
  Logic().Click(C::SenseBatteryPercent, false);
  for (C off : {C::SenseTime, C::SensePlaySound, C::SenseShutdown, C::SenseSound,
                C::SenseSoundPreview, C::SenseShutdownCountdown, C::SenseLabel3}) {
    EXPECT_FALSE(c.Enabled(off)) << static_cast<int>(off);
  }
  EXPECT_TRUE(c.Enabled(C::Label3));
  EXPECT_TRUE(c.Checked(C::SenseShutdown));
  EXPECT_TRUE(settings.ReadBool(kSense, kBatteryShutdown, false));
  EXPECT_TRUE(settings.ReadBool(kSense, kBatteryPlaySound, false));
  EXPECT_EQ(settings.ReadInteger(kSense, kBatteryShutdownCountdown, 0), 120);

  Logic().Click(C::PerformPost, false);
  EXPECT_FALSE(c.Enabled(C::PostURL));
  EXPECT_FALSE(c.Enabled(C::PostInterval));
  EXPECT_FALSE(settings.ReadBool(kPost, kPerform, true));
}

// Settings that can be read but not written (here the lock beside the file is a folder, which
// no one can open for writing, root included): the dialog still fills every control with the
// stored values and says once which file failed and why.
TEST_F(ConfigurationLogicTest, SettingsThatCannotBeWrittenAreShownAndTheFailureToldOnce) {
  QTemporaryDir folder;
  ASSERT_TRUE(folder.isValid());
  const std::string dir = folder.path().toStdString();
  {
    std::ofstream ini(dir + "/1.0.ini");
    ini << "[Sense]\nBattery=1\nBatteryTime=25\nBatteryShutdown=0\n"
           "[Settings]\nInterval=30\n[POST]\nURL=http://127.0.0.1/r\n";
  }
  ASSERT_TRUE(QDir().mkdir(QString::fromStdString(dir + "/1.0.ini.lock")));
  SettingsStore store(dir);
  ConfigurationDependencies deps = Deps();
  ConfigurationLogic logic({store, deps.autorun, deps.update_timer, deps.reset_post_counter,
                            deps.sound, deps.search, deps.boxes, deps.files, deps.busy,
                            deps.executable_path, deps.ups_access_hint});
  logic.Fill();
  EXPECT_EQ(events.log, (Strings{"error Невозможно сохранить настройки в файл " + dir +
                                 "/1.0.ini.lock: " + std::strerror(EISDIR) + "."}));
  const ConfigControls& c = logic.Controls();
  EXPECT_TRUE(c.Checked(C::SenseBattery));
  EXPECT_EQ(c.Text(C::SenseTime), "25");
  EXPECT_FALSE(c.Checked(C::SenseShutdown));
  EXPECT_EQ(c.Selected(C::Interval), 2);
  EXPECT_EQ(c.Text(C::PostURL), "http://127.0.0.1/r");
  EXPECT_TRUE(c.Checked(C::CatchStats));
  // The enabling rules ran to their end although every write failed.
  EXPECT_TRUE(c.Enabled(C::SenseTime));
  EXPECT_FALSE(c.Enabled(C::SenseShutdownCountdown));
  // Later changes are stores like any other: their failure ends their handler.
  EXPECT_THROW(logic.Click(C::CatchStats, false), StoreError);
}

TEST_F(ConfigurationLogicTest, AFailedStoreEndsTheHandlerAndTheControlKeepsTheUsersState) {
  settings.WriteBool(kSense, kBattery, true);
  Filled();
  ASSERT_TRUE(Controls().Enabled(C::SenseShutdownCountdown));
  settings.failing_key = kBatteryShutdown;
  RecordingReporter reporter;
  RunGuarded(reporter, [&] { Logic().Click(C::SenseShutdown, false); });
  EXPECT_EQ(reporter.messages, QStringList{"Failed to set data for 'BatteryShutdown'"});
  EXPECT_FALSE(Controls().Checked(C::SenseShutdown));
  // The handler ended before its enabling rules.
  EXPECT_TRUE(Controls().Enabled(C::SenseShutdownCountdown));
  EXPECT_TRUE(settings.ReadBool(kSense, kBatteryShutdown, false));

  // A battery box's handler ends at the chained shutdown handler: its own value is stored.
  RunGuarded(reporter, [&] { Logic().Click(C::SenseBattery, false); });
  EXPECT_EQ(reporter.messages.size(), 2);
  EXPECT_FALSE(settings.ReadBool(kSense, kBattery, true));
  EXPECT_FALSE(Controls().Checked(C::SenseBattery));
}

TEST_F(ConfigurationLogicTest, PreviewPlaysTheStoredPathWithoutItsQuotes) {
  Filled();
  Logic().ChangeText(C::SenseSound, "\"/home/user/My Sounds/alarm.wav\"");
  Logic().SenseSoundPreviewClick();
  // The store, not the field, names the file.
  settings.WriteString(kSense, kBatterySound, "/usr/share/sounds/bell.wav\"");
  Logic().SenseSoundPreviewClick();
  for (const char* nothing : {"\"", "", "\"\""}) {
    settings.WriteString(kSense, kBatterySound, nothing);
    Logic().SenseSoundPreviewClick();
  }
  EXPECT_EQ(sound.played,
            (std::vector<QString>{"/home/user/My Sounds/alarm.wav", "/usr/share/sounds/bell.wav"}));
}

TEST_F(ConfigurationLogicTest, BrowsingForASoundQuotesAPathWithABlankAndStoresIt) {
  QTemporaryDir dir;
  const std::string folder = dir.path().toStdString() + "/My Sounds";
  ASSERT_TRUE(QDir().mkpath(QString::fromStdString(folder)));
  settings.WriteString(kSense, kBatterySound, "\"" + folder + "/old.wav\"");
  Filled();
  settings.writes.clear();

  files.chosen = QString::fromStdString(folder + "/new alarm.wav");
  Logic().SenseSoundBrowseClick();
  ASSERT_EQ(files.requests.size(), 1u);
  const FileOpenRequest& request = files.requests[0];
  EXPECT_EQ(request.title, QString::fromUtf8("Выберите звук"));
  EXPECT_EQ(request.filters, QStringList({"Wave (*.wav)", QString::fromUtf8("Все файлы (*)")}));
  EXPECT_EQ(request.default_suffix, "wav");
  EXPECT_EQ(request.start_folder.toStdString(), folder);
  const std::string quoted = "\"" + folder + "/new alarm.wav\"";
  EXPECT_EQ(Controls().Text(C::SenseSound), quoted);
  EXPECT_EQ(settings.writes, Strings{"Sense/BatterySound=" + quoted});

  // No blank: no quotes; a folder that is gone: no start folder; cancelled: nothing changes.
  Logic().ChangeText(C::SenseSound, "/nonexistent/folder/x.wav");
  files.chosen = "/usr/share/sounds/bell.wav";
  Logic().SenseSoundBrowseClick();
  EXPECT_TRUE(files.requests[1].start_folder.isEmpty());
  EXPECT_EQ(settings.ReadString(kSense, kBatterySound, ""), "/usr/share/sounds/bell.wav");
  files.chosen.clear();
  settings.writes.clear();
  Logic().SenseSoundBrowseClick();
  EXPECT_TRUE(settings.writes.empty());
  EXPECT_EQ(Controls().Text(C::SenseSound), "/usr/share/sounds/bell.wav");
}

TEST(ConfigurationAutoRun, TheEntryNamesTheRunningExecutableEvenWithBlanksInItsPath) {
  QTemporaryDir dir;
  AutorunStore autostart(dir.path().toStdString() + "/autostart");
  // Another copy was registered: opening the dialog from this one points the entry here.
  autostart.WriteString(kRun, kAutorunValue, "/home/user/.local/opt/QELTA MONITOR/qelta-monitor");
  const std::string running =
      dir.path().toStdString() + "/My Programs/100% \"QELTA\"/qelta-monitor";

  LoggingSettings settings;
  ManualClock clock;
  std::unique_ptr<Timer> timer = clock.CreateTimer(1000, false);
  Events events;
  FakeProbe probe(settings, events);
  FakeAdapters adapters;
  PortSearch search(probe, settings, adapters);
  FakeBoxes boxes(events);
  FakeBusy busy(events);
  FakeFiles files;
  FakeSound sound;
  ConfigurationLogic logic(
      {settings, autostart, *timer, [] {}, sound, search, boxes, files, busy, running, {}});
  logic.Fill();
  EXPECT_TRUE(logic.Controls().Checked(ConfigControl::AutoRun));
  EXPECT_EQ(autostart.ReadString(kRun, kAutorunValue, ""), running);
  // A fresh store reads the file itself back to the same path.
  EXPECT_EQ(
      AutorunStore(dir.path().toStdString() + "/autostart").ReadString(kRun, kAutorunValue, ""),
      running);

  logic.Click(ConfigControl::AutoRun, false);
  EXPECT_EQ(autostart.ReadString(kRun, kAutorunValue, ""), "");
  EXPECT_FALSE(QFile::exists(QString::fromStdString(autostart.EntryPath())));
  logic.Click(ConfigControl::AutoRun, true);
  EXPECT_EQ(autostart.ReadString(kRun, kAutorunValue, ""), running);
}

}  // namespace
}  // namespace qelta::testing
