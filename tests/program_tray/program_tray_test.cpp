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
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <map>
#include <vector>

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

// What the X server holds for one mapped top-level window: its title, its atom-list
// properties by name (as atom names) and its Motif hints.
struct ShownWindow {
  std::string title;
  std::map<std::string, std::vector<std::string>> atoms;
  std::vector<uint32_t> motif_hints;
  int x = -1;
  int y = -1;
};

std::vector<ShownWindow> ShownWindows(const std::string& display_name) {
  std::vector<ShownWindow> windows;
  xcb_connection_t* c = xcb_connect(display_name.c_str(), nullptr);
  if (xcb_connection_has_error(c) != 0) {
    xcb_disconnect(c);
    return windows;
  }
  auto atom = [c](const std::string& name) {
    xcb_intern_atom_reply_t* reply =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, name.size(), name.c_str()), nullptr);
    const xcb_atom_t a = reply != nullptr ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
    std::free(reply);
    return a;
  };
  auto atom_name = [c](xcb_atom_t a) {
    xcb_get_atom_name_reply_t* reply = xcb_get_atom_name_reply(c, xcb_get_atom_name(c, a), nullptr);
    std::string name;
    if (reply != nullptr) {
      name.assign(xcb_get_atom_name_name(reply), xcb_get_atom_name_name_length(reply));
    }
    std::free(reply);
    return name;
  };
  auto property = [c](xcb_window_t w, xcb_atom_t p) {
    xcb_get_property_reply_t* reply = xcb_get_property_reply(
        c, xcb_get_property(c, 0, w, p, XCB_GET_PROPERTY_TYPE_ANY, 0, 256), nullptr);
    std::string bytes;
    if (reply != nullptr) {
      bytes.assign(static_cast<const char*>(xcb_get_property_value(reply)),
                   xcb_get_property_value_length(reply));
    }
    std::free(reply);
    return bytes;
  };
  auto words = [](const std::string& bytes) {
    std::vector<uint32_t> out(bytes.size() / 4);
    if (!out.empty()) std::memcpy(out.data(), bytes.data(), out.size() * 4);
    return out;
  };
  const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
  xcb_query_tree_reply_t* tree = xcb_query_tree_reply(c, xcb_query_tree(c, screen->root), nullptr);
  if (tree != nullptr) {
    const xcb_window_t* children = xcb_query_tree_children(tree);
    for (int i = 0; i < xcb_query_tree_children_length(tree); ++i) {
      xcb_get_window_attributes_reply_t* attributes =
          xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, children[i]), nullptr);
      const bool viewable =
          attributes != nullptr && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
      std::free(attributes);
      if (!viewable) continue;
      ShownWindow window;
      window.title = property(children[i], atom("_NET_WM_NAME"));
      for (const char* name : {"_NET_WM_STATE", "_NET_WM_WINDOW_TYPE"}) {
        for (uint32_t a : words(property(children[i], atom(name)))) {
          window.atoms[name].push_back(atom_name(a));
        }
      }
      window.motif_hints = words(property(children[i], atom("_MOTIF_WM_HINTS")));
      xcb_get_geometry_reply_t* geometry =
          xcb_get_geometry_reply(c, xcb_get_geometry(c, children[i]), nullptr);
      if (geometry != nullptr) {
        window.x = geometry->x;
        window.y = geometry->y;
      }
      std::free(geometry);
      windows.push_back(window);
    }
  }
  std::free(tree);
  xcb_disconnect(c);
  return windows;
}

bool WindowShown(const std::string& display_name, const std::string& title) {
  for (const ShownWindow& w : ShownWindows(display_name)) {
    if (w.title == title) return true;
  }
  return false;
}

bool Has(const std::vector<std::string>& list, const std::string& item) {
  return std::find(list.begin(), list.end(), item) != list.end();
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

  // A left click on the icon shows the pop-up: a tool window with neither a taskbar entry nor
  // minimise and maximise buttons, in the corner of the click the tray passed (top left), not
  // of the pointer (which the server keeps in the middle of the screen, so right and bottom).
  CallItem({}, QStringLiteral("org.kde.StatusNotifierItem"), QStringLiteral("Activate"), {10, 10});
  ShownWindow popup;
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        for (ShownWindow& w : ShownWindows(display->name())) {
          if (Has(w.atoms["_NET_WM_WINDOW_TYPE"], "_NET_WM_WINDOW_TYPE_UTILITY")) popup = w;
        }
        return !popup.title.empty();
      },
      kLongWaitMs));
  EXPECT_EQ(popup.title, "QELTA MONITOR");
  EXPECT_LT(popup.x, 40);
  EXPECT_LT(popup.y, 40);
  EXPECT_TRUE(Has(popup.atoms["_NET_WM_STATE"], "_NET_WM_STATE_SKIP_TASKBAR"));
  EXPECT_TRUE(Has(popup.atoms["_NET_WM_STATE"], "_NET_WM_STATE_SKIP_PAGER"));
  ASSERT_EQ(popup.motif_hints.size(), 5u);
  EXPECT_TRUE(popup.motif_hints[0] & 1u);            // functions given
  EXPECT_EQ(popup.motif_hints[1] & (8u | 16u), 0u);  // neither minimise nor maximise
  // A tray that asks the item to open its menu (ContextMenu) instead of reading it gets the menu
  // as a window of its own, at the place the tray gave (the pop-up is in the corner, at 0, 0).
  CallItem({}, QStringLiteral("org.kde.StatusNotifierItem"), QStringLiteral("ContextMenu"),
           {10, 10});
  EXPECT_TRUE(QTest::qWaitFor(
      [&] {
        for (ShownWindow& w : ShownWindows(display->name())) {
          if (w.x == 10 && w.y == 10) return true;
        }
        return false;
      },
      kLongWaitMs));
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
