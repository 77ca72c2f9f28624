// The real monitor under a private X server with a private session bus on which a stand-in
// StatusNotifierWatcher plays the tray: the icon registers with it, and the menu is read and
// clicked over D-Bus as a tray that speaks StatusNotifierItem does it.
#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QElapsedTimer>
#include <QTest>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "program_harness.h"
#include "standin_watcher.h"
#include "tests/power/private_bus.h"

namespace qelta::testing {
namespace {

using namespace std::chrono_literals;

constexpr int kLongWaitMs = 45000;

VirtualDisplay* display = nullptr;
const auto* const registered = ::testing::AddGlobalTestEnvironment(new DisplayEnvironment(display));

QCoreApplication& App() {
  static int argc = 1;
  static char name[] = "test_program_tray";
  static char* argv[] = {name, nullptr};
  static QCoreApplication app(argc, argv);
  return app;
}

// One item of the menu as a tray reads it (com.canonical.dbusmenu's GetLayout).
struct MenuEntry {
  int id = 0;
  QString label;  // "-" for a separator; "_" marks the access key, as trays show it
  bool enabled = true;
  bool visible = true;
  int toggle_state = -1;  // -1 when the item carries none
};

struct LayoutNode {
  int id = 0;
  QVariantMap properties;
  QList<LayoutNode> children;
};

const QDBusArgument& operator>>(const QDBusArgument& in, LayoutNode& node) {
  in.beginStructure();
  in >> node.id >> node.properties;
  in.beginArray();
  while (!in.atEnd()) {
    QDBusVariant child;
    in >> child;
    LayoutNode child_node;
    qvariant_cast<QDBusArgument>(child.variant()) >> child_node;
    node.children.append(child_node);
  }
  in.endArray();
  in.endStructure();
  return in;
}

// Whether a top-level window titled `title` is mapped on `display_name`, asked of the X server.
bool WindowShown(const std::string& display_name, const std::string& title) {
  xcb_connection_t* c = xcb_connect(display_name.c_str(), nullptr);
  bool shown = false;
  if (xcb_connection_has_error(c) == 0) {
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const char atom_name[] = "_NET_WM_NAME";
    xcb_intern_atom_reply_t* atom =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, std::strlen(atom_name), atom_name), nullptr);
    xcb_query_tree_reply_t* tree =
        xcb_query_tree_reply(c, xcb_query_tree(c, screen->root), nullptr);
    if (atom != nullptr && tree != nullptr) {
      const xcb_window_t* children = xcb_query_tree_children(tree);
      for (int i = 0; i < xcb_query_tree_children_length(tree) && !shown; ++i) {
        xcb_get_window_attributes_reply_t* attributes =
            xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, children[i]), nullptr);
        const bool viewable =
            attributes != nullptr && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
        std::free(attributes);
        if (!viewable) continue;
        xcb_get_property_reply_t* name = xcb_get_property_reply(
            c, xcb_get_property(c, 0, children[i], atom->atom, XCB_GET_PROPERTY_TYPE_ANY, 0, 256),
            nullptr);
        if (name != nullptr) {
          shown = std::string(static_cast<const char*>(xcb_get_property_value(name)),
                              xcb_get_property_value_length(name)) == title;
        }
        std::free(name);
      }
    }
    std::free(atom);
    std::free(tree);
  }
  xcb_disconnect(c);
  return shown;
}

class ProgramTrayTest : public ::testing::Test {
 protected:
  void SetUp() override {
    App();
    ASSERT_NE(display, nullptr);
    ASSERT_TRUE(display->ok());
    ASSERT_TRUE(session_bus_.Running());
    watcher_ = std::make_unique<StandInWatcher>(QString::fromStdString(session_bus_.Address()));
    ASSERT_TRUE(watcher_->Bus().isConnected());
  }

  void StartMonitor(const std::string& extra_settings = "") {
    const std::string device = StartSimulator(simulator_, {"--pace=instant"});
    ASSERT_FALSE(device.empty());
    sandbox_.SeedSettings(device, 1, extra_settings);
    std::map<std::string, std::string> env = sandbox_.Environment(display->name());
    env["DBUS_SESSION_BUS_ADDRESS"] = session_bus_.Address();
    ASSERT_TRUE(monitor_.Start(sandbox_.MonitorCommand(), env, sandbox_.dir()));
  }

  bool WaitForItem(int timeout_ms = kLongWaitMs) {
    return QTest::qWaitFor([&] { return !watcher_->Items().isEmpty(); }, timeout_ms);
  }

  QDBusMessage CallItem(const QString& path, const QString& interface, const QString& method,
                        const QVariantList& arguments) {
    const auto& [service, item_path] = watcher_->Items().first();
    QDBusMessage call = QDBusMessage::createMethodCall(service, path.isEmpty() ? item_path : path,
                                                       interface, method);
    call.setArguments(arguments);
    return watcher_->Bus().call(call, QDBus::Block, 10000);
  }

  QVariant ItemProperty(const QString& name) {
    const QDBusMessage answer =
        CallItem({}, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"),
                 {QStringLiteral("org.kde.StatusNotifierItem"), name});
    if (answer.type() != QDBusMessage::ReplyMessage || answer.arguments().isEmpty()) return {};
    return answer.arguments().first().value<QDBusVariant>().variant();
  }

  QString MenuPath() {
    return qvariant_cast<QDBusObjectPath>(ItemProperty(QStringLiteral("Menu"))).path();
  }

  // The menu's top level as GetLayout gives it now.
  QList<MenuEntry> Menu() {
    const QDBusMessage answer = CallItem(MenuPath(), QStringLiteral("com.canonical.dbusmenu"),
                                         QStringLiteral("GetLayout"), {0, -1, QStringList()});
    QList<MenuEntry> entries;
    if (answer.type() != QDBusMessage::ReplyMessage || answer.arguments().size() < 2)
      return entries;
    LayoutNode root;
    qvariant_cast<QDBusArgument>(answer.arguments()[1]) >> root;
    for (const LayoutNode& node : root.children) {
      MenuEntry entry;
      entry.id = node.id;
      const QVariantMap& p = node.properties;
      entry.label = p.value(QStringLiteral("type")).toString() == QLatin1String("separator")
                        ? QStringLiteral("-")
                        : p.value(QStringLiteral("label")).toString();
      entry.enabled = p.value(QStringLiteral("enabled"), true).toBool();
      entry.visible = p.value(QStringLiteral("visible"), true).toBool();
      entry.toggle_state = p.value(QStringLiteral("toggle-state"), -1).toInt();
      entries.append(entry);
    }
    return entries;
  }

  // The labels of the items a tray shows.
  QStringList ShownLabels() {
    QStringList labels;
    for (const MenuEntry& e : Menu()) {
      if (e.visible) labels << e.label;
    }
    return labels;
  }

  MenuEntry Entry(const QString& label) {
    for (const MenuEntry& e : Menu()) {
      if (e.label == label) return e;
    }
    return {};
  }

  bool Click(const QString& label) {
    const MenuEntry entry = Entry(label);
    if (entry.id == 0) return false;
    const QDBusMessage answer =
        CallItem(MenuPath(), QStringLiteral("com.canonical.dbusmenu"), QStringLiteral("Event"),
                 {entry.id, QStringLiteral("clicked"), QVariant::fromValue(QDBusVariant(0)), 0u});
    return answer.type() == QDBusMessage::ReplyMessage;
  }

  // The tooltip's title, which trays show and give as the icon's accessible name.
  QString ToolTipTitle() {
    const QVariant tip = ItemProperty(QStringLiteral("ToolTip"));
    if (!tip.canConvert<QDBusArgument>()) return {};
    const QDBusArgument in = qvariant_cast<QDBusArgument>(tip);
    QString icon_name, title, text;
    in.beginStructure();
    in >> icon_name;
    in.beginArray();
    while (!in.atEnd()) {
      int width = 0, height = 0;
      QByteArray data;
      in.beginStructure();
      in >> width >> height >> data;
      in.endStructure();
    }
    in.endArray();
    in >> title >> text;
    in.endStructure();
    return title;
  }

  PrivateDbusDaemon session_bus_;
  std::unique_ptr<StandInWatcher> watcher_;
  ChildProcess simulator_;
  MonitorSandbox sandbox_;
  ChildProcess monitor_;
};

const QStringList kFixedItems = {QString::fromUtf8("_Состояние UPS..."),
                                 QString::fromUtf8("_Доп. звук. оповещение"),
                                 "-",
                                 QString::fromUtf8("_Статистика..."),
                                 QString::fromUtf8("_Тестирование UPS..."),
                                 "-",
                                 QString::fromUtf8("_Конфигурация..."),
                                 QString::fromUtf8("_О программе"),
                                 QString::fromUtf8("_Закрыть")};
const QString kCancel = QString::fromUtf8("Отменить завершение работы");

TEST_F(ProgramTrayTest, TheTrayReadsAndClicksTheMenuThatFollowsTheState) {
  ASSERT_TRUE(watcher_->Start());
  // On battery for 1 s starts a countdown long enough to look at.
  StartMonitor("\n[Sense]\nBatteryTime=1\nBatteryShutdownCountdown=600\nBatteryShutdown=1\n");
  ASSERT_TRUE(WaitForItem());
  ASSERT_FALSE(MenuPath().isEmpty());
  ASSERT_NE(MenuPath(), QStringLiteral("/NO_DBUSMENU"));

  // With the link up: the items in order, the beeper item enabled and checked as the UPS says.
  ASSERT_TRUE(QTest::qWaitFor(
      [&] { return ToolTipTitle() == QString::fromUtf8("QELTA MONITOR: сеть, 99 %"); },
      kLongWaitMs))
      << ToolTipTitle().toStdString();
  EXPECT_EQ(ShownLabels(), kFixedItems);
  const MenuEntry beeper = Entry(kFixedItems[1]);
  EXPECT_TRUE(beeper.enabled);
  EXPECT_EQ(beeper.toggle_state, 1);
  EXPECT_TRUE(Entry(kFixedItems[4]).enabled);

  // On battery: once the countdown runs the cancel item leads the menu, without a click.
  simulator_.WriteLine("battery");
  ASSERT_TRUE(QTest::qWaitFor([&] { return ShownLabels().value(0) == kCancel; }, kLongWaitMs));
  EXPECT_EQ(ShownLabels(), QStringList({kCancel, "-"}) + kFixedItems);
  EXPECT_TRUE(ToolTipTitle().startsWith(QString::fromUtf8("QELTA MONITOR: батарея, ")));
  ASSERT_TRUE(Click(kCancel));
  ASSERT_TRUE(QTest::qWaitFor([&] { return ShownLabels() == kFixedItems; }, kLongWaitMs));
  // Without a notification service on the bus the program says so in a window of its own.
  EXPECT_TRUE(QTest::qWaitFor([&] { return WindowShown(display->name(), "Завершение работы"); },
                              kLongWaitMs));

  // "Конфигурация..." chosen in the tray opens the dialog.
  ASSERT_FALSE(WindowShown(display->name(), "QELTA MONITOR"));
  ASSERT_TRUE(Click(kFixedItems[6]));
  EXPECT_TRUE(
      QTest::qWaitFor([&] { return WindowShown(display->name(), "QELTA MONITOR"); }, kLongWaitMs));

  // "Закрыть" ends the program.
  ASSERT_TRUE(Click(kFixedItems[8]));
  int code = -1;
  EXPECT_TRUE(monitor_.Wait(std::chrono::milliseconds(kLongWaitMs), &code));
  EXPECT_EQ(code, 0);
}

TEST_F(ProgramTrayTest, AWatcherThatComesLaterGetsTheItemAtOnce) {
  StartMonitor();
  // Running with no tray anywhere: it polls and records.
  ASSERT_TRUE(QTest::qWaitFor([&] { return sandbox_.ReadStats().size() >= 1; }, kLongWaitMs));
  QTest::qWait(5000);
  ASSERT_TRUE(watcher_->Items().isEmpty());
  QElapsedTimer since_start;
  since_start.start();
  ASSERT_TRUE(watcher_->Start());
  // The wait for a tray is told by the bus, not a timer: a program that missed the watcher's
  // arrival would never register.
  ASSERT_TRUE(WaitForItem());
  std::cout << "[ measured ] item registered " << since_start.elapsed()
            << " ms after the watcher took its name\n";
  EXPECT_FALSE(Menu().isEmpty());
  EXPECT_TRUE(monitor_.Running());
}

}  // namespace
}  // namespace qelta::testing
