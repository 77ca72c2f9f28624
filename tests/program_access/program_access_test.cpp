// The real program under a private X server, its windows read through the accessibility bus as
// a screen reader reads them: Qt's bridge on, the bus of at-spi2-core on a private session bus,
// and a reader written with the GObject binding of libatspi (atspi_walk.py). Every focusable
// control of every window must have a name, every field a label, every caption label its
// control, and Tab must reach every enabled control.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iostream>
#include <sstream>
#include <thread>

#include "program_harness.h"
#include "tests/power/private_bus.h"
#include "x_desktop.h"

namespace qelta::testing {
namespace {

using namespace std::chrono_literals;

constexpr uint32_t kKeyTab = 0xff09;
constexpr uint32_t kKeyReturn = 0xff0d;
constexpr uint32_t kKeyEscape = 0xff1b;
constexpr uint32_t kKeyUp = 0xff52;
constexpr uint32_t kKeyDown = 0xff54;

const char kBusLauncher[] = "/usr/libexec/at-spi-bus-launcher";

VirtualDisplay* display = nullptr;

const auto* const registered = ::testing::AddGlobalTestEnvironment(new DisplayEnvironment(display));

using Line = std::vector<std::string>;

std::vector<std::string> Split(const std::string& line) {
  std::vector<std::string> fields;
  std::istringstream in(line);
  std::string field;
  while (std::getline(in, field, '\t')) fields.push_back(field);
  return fields;
}

// The accessibility bus of a session and the reader on it.
class ScreenReader {
 public:
  explicit ScreenReader(const std::string& x_display) {
    // A reader that died fails the test through its missing answers, not by a signal.
    signal(SIGPIPE, SIG_IGN);
    if (!bus_.Running()) return;
    env_ = {{"DBUS_SESSION_BUS_ADDRESS", bus_.Address()}, {"DISPLAY", x_display}};
    // In a process group of its own: the bus and the registry it starts end with the group.
    if (!launcher_.Start({"/usr/bin/setsid", kBusLauncher, "--launch-immediately"}, env_)) return;
    // Debian's interpreter, which has the GObject binding (python3-gi).
    ok_ = reader_.Start(
        {"/usr/bin/python3", std::string(QELTA_SOURCE_DIR) + "/tests/program_access/atspi_walk.py"},
        env_, "", true);
  }
  ~ScreenReader() {
    // Left alive, they would hold the test's output open after it ends.
    if (launcher_.pid() > 0) kill(-launcher_.pid(), SIGKILL);
  }
  ScreenReader(const ScreenReader&) = delete;
  ScreenReader& operator=(const ScreenReader&) = delete;

  bool ok() const { return ok_; }
  // What a program needs to be read: the session bus, and Qt's bridge on.
  std::map<std::string, std::string> ProgramEnvironment() const {
    return {{"DBUS_SESSION_BUS_ADDRESS", bus_.Address()},
            {"QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1"}};
  }

  std::vector<Line> Ask(const std::string& command) {
    reader_.WriteLine(command);
    std::vector<Line> answer;
    for (;;) {
      const std::string line = reader_.ReadLine(30s);
      if (line.empty() || line == "end") break;
      answer.push_back(Split(line));
    }
    return answer;
  }

 private:
  PrivateDbusDaemon bus_;
  std::map<std::string, std::string> env_;
  ChildProcess launcher_;
  ChildProcess reader_;
  bool ok_ = false;
};

// What the reader found in one window.
struct WindowReading {
  std::string title;
  std::vector<std::string> faults;
  int named = 0;
  int focusable = 0;
  int enabled = 0;
};

WindowReading Read(const std::vector<Line>& answer) {
  WindowReading reading;
  for (const Line& line : answer) {
    if (line[0] == "window" && line.size() > 2) reading.title = line[2];
    if (line[0] == "fault" && line.size() > 1) reading.faults.push_back(line[1]);
    if (line[0] == "control" && line.size() > 4 && line[4] == "1") ++reading.enabled;
    if (line[0] == "counts" && line.size() > 2) {
      reading.named = std::stoi(line[1]);
      reading.focusable = std::stoi(line[2]);
    }
  }
  return reading;
}

class ProgramAccessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(display != nullptr && display->ok()) << "no Xvfb";
    if (access(kBusLauncher, X_OK) != 0) {
      GTEST_SKIP() << kBusLauncher << " is missing (package at-spi2-core)";
    }
    reader = std::make_unique<ScreenReader>(display->name());
    ASSERT_TRUE(reader->ok()) << "no accessibility bus or reader";
    desktop = std::make_unique<XDesktop>(display->name());
    ASSERT_TRUE(desktop->ok()) << "no tray";
  }

  std::map<std::string, std::string> Environment() const {
    std::map<std::string, std::string> env = sandbox.Environment(display->name());
    for (const auto& [key, value] : reader->ProgramEnvironment()) env[key] = value;
    return env;
  }

  // Waits for a new window of `title` at least `min_width` wide and gives it the focus.
  xcb_window_t Open(const std::vector<xcb_window_t>& known, const std::string& title,
                    int min_width) {
    const xcb_window_t window = desktop->WaitForNewWindow(known, title, min_width, 20s);
    if (window != 0) desktop->Focus(window);
    return window;
  }

  // Reads the active window once the reader sees it titled `title` with its controls.
  WindowReading Check(const std::string& title) {
    WindowReading reading;
    WaitFor(
        [&] {
          reading = Read(reader->Ask("check"));
          return reading.title == title && reading.focusable > 0;
        },
        30s);
    std::cout << "[ reading  ] \"" << reading.title << "\": " << reading.named << " of "
              << reading.focusable << " focusable controls named\n";
    for (const std::string& fault : reading.faults) std::cout << "  fault: " << fault << "\n";
    return reading;
  }

  // Presses Tab until every enabled control had the focus (a control may take several: the
  // date picker steps through its fields), at most twice round; the names of the controls
  // that had the focus, the first being the one that had it before the first Tab. Faults:
  // enabled controls that no Tab reached.
  std::vector<std::string> TabRound(xcb_window_t window, const WindowReading& reading,
                                    std::vector<std::string>& faults) {
    std::vector<std::string> names;
    auto focused = [&] {
      for (const Line& line : reader->Ask("focus")) {
        if (line[0] == "focus") names.push_back(line.size() > 2 ? line[2] : "");
      }
    };
    auto unreached = [&] {
      std::vector<std::string> missing;
      for (const Line& line : reader->Ask("unreached")) {
        if (line[0] == "fault" && line.size() > 1) missing.push_back(line[1]);
      }
      return missing;
    };
    focused();
    std::vector<std::string> missing;
    for (int presses = 1; presses <= 2 * reading.enabled + 2; ++presses) {
      desktop->Key(window, kKeyTab);
      focused();
      if (presses < reading.enabled) continue;
      missing = unreached();
      if (missing.empty()) break;
    }
    faults.insert(faults.end(), missing.begin(), missing.end());
    return names;
  }

  // Reads the window and goes round it with Tab; expects no fault.
  std::vector<std::string> Expect(xcb_window_t window, const std::string& title) {
    const WindowReading reading = Check(title);
    EXPECT_EQ(reading.title, title);
    EXPECT_GT(reading.focusable, 0) << title;
    std::vector<std::string> faults = reading.faults;
    const std::vector<std::string> round = TabRound(window, reading, faults);
    for (const std::string& fault : faults) ADD_FAILURE() << title << ": " << fault;
    std::cout << "  Tab round:";
    for (const std::string& name : round) std::cout << " [" << name << "]";
    std::cout << "\n";
    return round;
  }

  std::string Describe(const std::string& name) {
    for (const Line& line : reader->Ask("describe " + name)) {
      if (line[0] == "description" && line.size() > 1) return line[1];
    }
    return "";
  }

  void Press(const std::string& name) {
    for (const Line& line : reader->Ask("press " + name)) {
      if (line[0] == "fault") ADD_FAILURE() << line[1];
    }
  }

  // Starts the monitor on the simulated UPS, its icon in the tray, and waits for its polls.
  void StartMonitor() {
    const std::string device = StartSimulator(simulator, {"--pace=instant"});
    ASSERT_FALSE(device.empty());
    sandbox.SeedSettings(device, 3);
    ASSERT_TRUE(monitor.Start(sandbox.MonitorCommand(), Environment(), sandbox.dir()));
    icon = desktop->WaitForTrayIcon(20s);
    ASSERT_NE(icon, 0u) << "the monitor docked no tray icon";
    ASSERT_TRUE(WaitFor([&] { return sandbox.ReadStats().size() >= 2; }, 20s));
  }

  // A tray menu item, counted from the bottom of the menu: "&Закрыть", "&О программе",
  // "&Конфигурация...", "&Тестирование UPS...", "&Статистика...", "&Доп. звук. оповещение",
  // "&Состояние UPS...". (The open menu is not on the accessibility bus.) Its window, given
  // the focus.
  xcb_window_t Choose(int ups, const std::string& title, int min_width) {
    std::vector<xcb_window_t> known = desktop->TopLevelWindows();
    desktop->RightClick(icon);
    const xcb_window_t menu = desktop->WaitForNewWindow(known, "", 1, 10s);
    if (menu == 0) return 0;
    for (int i = 0; i < ups; ++i) desktop->Key(menu, kKeyUp);
    known = desktop->TopLevelWindows();
    desktop->Key(menu, kKeyReturn);
    return Open(known, title, min_width);
  }

  MonitorSandbox sandbox;
  ChildProcess simulator;
  ChildProcess monitor;
  xcb_window_t icon = 0;
  std::unique_ptr<ScreenReader> reader;
  std::unique_ptr<XDesktop> desktop;
};

TEST_F(ProgramAccessTest, InstallerAndItsQuestion) {
  std::vector<xcb_window_t> known = desktop->TopLevelWindows();
  ASSERT_TRUE(monitor.Start(sandbox.MonitorCommand(), Environment(), sandbox.dir()));
  const std::string title = std::string("QELTA MONITOR v") + "0.99.6";
  const xcb_window_t installer = Open(known, title, 472);
  ASSERT_NE(installer, 0u) << "no installer window";
  Expect(installer, title);

  known = desktop->TopLevelWindows();
  Press("Установить");
  const xcb_window_t question = Open(known, "QELTA MONITOR", 0);
  ASSERT_NE(question, 0u) << "no question box";
  Expect(question, "QELTA MONITOR");
  Press("Нет");  // nothing is installed
  EXPECT_TRUE(monitor.Running());
}

TEST_F(ProgramAccessTest, WelcomeConfigurationAndTheSearchBox) {
  const std::string device = StartSimulator(simulator, {"--pace=instant"});
  ASSERT_FALSE(device.empty());
  // Every control of the dialog enabled: battery warnings, sound and report on.
  sandbox.SeedSettings(device, 3,
                       "[Sense]\nBattery=1\nBatteryTime=10\nBatteryPercent=1\n"
                       "BatteryPercentValue=80\nBatteryShutdown=1\nBatteryShutdownCountdown=60\n"
                       "BatteryPlaySound=1\n[POST]\nPerform=1\nURL=http://127.0.0.1:9/ups\n");
  std::vector<xcb_window_t> known = desktop->TopLevelWindows();
  std::vector<std::string> command = sandbox.MonitorCommand();
  command.push_back("/welcome");
  ASSERT_TRUE(monitor.Start(command, Environment(), sandbox.dir()));
  ASSERT_NE(desktop->WaitForTrayIcon(20s), 0u);
  const xcb_window_t welcome = Open(known, "QELTA MONITOR", 336);
  ASSERT_NE(welcome, 0u) << "no welcome window";
  Expect(welcome, "QELTA MONITOR");

  known = desktop->TopLevelWindows();
  Press("Настроить программу");
  const xcb_window_t dialog = Open(known, "QELTA MONITOR", 577);
  ASSERT_NE(dialog, 0u) << "no configuration dialog";
  std::vector<std::string> round = Expect(dialog, "QELTA MONITOR");
  // The order of the form, from the port list round to it again.
  const std::vector<std::string> order = {
      "Порт:",
      "Поиск",
      "Интервал:",
      "Автоматически закрывать окно состояния UPS",
      "Показать состояние UPS при 4-х сек. удержании Ctrl",
      "Накапливать статистику UPS",
      "Запускать при входе в систему",
      "Сообщать о переходе на питание от батарей",
      "Оповестить о переходе в режим работы",
      "Оповестить о переходе на батарею через, секунд",
      "Оповестить, если заряд батареи",
      "Оповестить, если заряд батареи менее, процентов",
      "Проиграть звук",
      "Файл звука оповещения",
      "Выбрать файл звука",
      "Прослушать звук",
      "Автоматически завершить работу компьютера",
      "Завершить работу компьютера через, секунд после оповещения",
      "Передавать состояние UPS на HTTP-сервер:",
      "Адрес HTTP-сервера",
      "Интервал передачи на HTTP-сервер",
      "Сеть",
      "Закрыть",
  };
  const auto start = std::find(round.begin(), round.end(), order.front());
  ASSERT_NE(start, round.end()) << "Tab never reached the port list";
  std::rotate(round.begin(), start, round.end());
  round.resize(std::min(round.size(), order.size()));
  EXPECT_EQ(round, order);

  known = desktop->TopLevelWindows();
  Press("Поиск");
  const xcb_window_t found = Open(known, "QELTA MONITOR", 0);
  ASSERT_NE(found, 0u) << "no box after the search";
  Expect(found, "QELTA MONITOR");
  desktop->Key(found, kKeyReturn);
  EXPECT_TRUE(monitor.Running());
}

TEST_F(ProgramAccessTest, StatisticsWindowAndItsGraph) {
  StartMonitor();
  // "&Статистика...": the graph tells the day, the series and its extremes, and follows the
  // series chosen.
  const std::string stats_title = "QELTA MONITOR: Статистика";
  const xcb_window_t stats = Choose(5, stats_title, 900);
  ASSERT_NE(stats, 0u) << "no statistics window";
  Expect(stats, stats_title);
  const std::string input = Describe("График");
  EXPECT_NE(input.find("График напряжения в электросети"), std::string::npos) << input;
  EXPECT_NE(input.find("Максимум 2"), std::string::npos) << input;
  EXPECT_NE(input.find("Минимум 2"), std::string::npos) << input;
  // Tab to the series list and pick the other series.
  bool on_mode = false;
  for (int i = 0; i < 6 && !on_mode; ++i) {
    desktop->Key(stats, kKeyTab);
    for (const Line& line : reader->Ask("focus")) {
      on_mode = on_mode || (line[0] == "focus" && line.size() > 2 && line[2] == "Вид графика");
    }
  }
  ASSERT_TRUE(on_mode) << "Tab never reached the series list";
  desktop->Key(stats, kKeyDown);
  std::string output;
  EXPECT_TRUE(WaitFor(
      [&] {
        output = Describe("График");
        return output.find("График напряжения на выходе UPS") != std::string::npos;
      },
      10s))
      << output;
  EXPECT_NE(output.find("Максимум 2"), std::string::npos) << output;

  EXPECT_TRUE(monitor.Running());
}

TEST_F(ProgramAccessTest, About) {
  StartMonitor();
  // "&О программе": the two links and the close button.
  const xcb_window_t about = Choose(2, "QELTA MONITOR: О программе", 0);
  ASSERT_NE(about, 0u) << "no About window";
  const std::vector<std::string> round = Expect(about, "QELTA MONITOR: О программе");
  // The links are controls: Tab stops on them.
  for (const char* link :
       {"QELTA: источники бесперебойного питания", "Программа: мастерская QELTA MONITOR"}) {
    EXPECT_NE(std::find(round.begin(), round.end(), link), round.end()) << link;
  }
  EXPECT_TRUE(monitor.Running());
}

TEST_F(ProgramAccessTest, StatusPopUp) {
  StartMonitor();
  // "&Состояние UPS...": every reading is read with its caption.
  const xcb_window_t popup = Choose(7, "QELTA MONITOR", 248);
  ASSERT_NE(popup, 0u) << "no status pop-up";
  const std::vector<std::string> readings = Expect(popup, "QELTA MONITOR");
  for (const char* caption :
       {"Напряжение на входе: ", "Напряжение на выходе: ", "Нагрузка на выходе: ",
        "Частота напряжения на выходе: ", "Заряд батареи: ", "Температура: "}) {
    const bool found = std::any_of(readings.begin(), readings.end(), [&](const std::string& name) {
      return name.rfind(caption, 0) == 0 && name.size() > std::string(caption).size() &&
             name.find_first_of("0123456789", std::string(caption).size()) != std::string::npos;
    });
    EXPECT_TRUE(found) << caption << "with a number is not read";
  }
  desktop->Key(popup, kKeyEscape);

  EXPECT_TRUE(monitor.Running());
}

}  // namespace
}  // namespace qelta::testing
