#include "platform/tray_appearance_watch.h"

#include <QGuiApplication>

#include "platform/x11_tray_watch.h"

namespace qelta {
namespace {

// A platform without a desktop: no tray ever appears, and that is all there is to tell.
class NoTrayEver : public ChangeNotice {
 public:
  bool TellsEveryChange() override { return true; }
  void SetChangeHandler(std::function<void()>) override {}
};

// A platform whose trays announce themselves in no way we follow.
class TrayAppearanceUntold : public ChangeNotice {
 public:
  bool TellsEveryChange() override { return false; }
  void SetChangeHandler(std::function<void()>) override {}
};

}  // namespace

std::unique_ptr<ChangeNotice> MakeTrayAppearanceWatch() {
  const QString platform = QGuiApplication::platformName();
  if (platform == QLatin1String("xcb")) {
    auto watch = std::make_unique<X11TrayWatch>();
    if (watch->TellsEveryChange()) return watch;
    return std::make_unique<TrayAppearanceUntold>();
  }
  if (platform == QLatin1String("offscreen") || platform == QLatin1String("minimal")) {
    return std::make_unique<NoTrayEver>();
  }
  return std::make_unique<TrayAppearanceUntold>();
}

}  // namespace qelta
