#include "platform/tray_appearance_watch.h"

#include <QGuiApplication>

#include "platform/status_notifier_watch.h"
#include "platform/x11_tray_watch.h"

namespace qelta {
namespace {

// A platform without a desktop: no tray ever appears, and that is all there is to tell.
class NoTrayEver : public TrayPresence {
 public:
  bool TellsEveryChange() override { return true; }
  void SetChangeHandler(std::function<void()>) override {}
  bool TrayThere() override { return false; }
};

// A StatusNotifierItem tray on the session bus, and on X11 also the tray selection's owner.
class DesktopTrays : public TrayPresence {
 public:
  explicit DesktopTrays(bool x11) {
    if (x11) x11_ = std::make_unique<X11TrayWatch>();
  }

  bool TellsEveryChange() override {
    return sni_.TellsEveryChange() && (x11_ == nullptr || x11_->TellsEveryChange());
  }
  void SetChangeHandler(std::function<void()> handler) override {
    sni_.SetChangeHandler(handler);
    if (x11_ != nullptr) x11_->SetChangeHandler(handler);
  }
  bool TrayThere() override {
    if (x11_ != nullptr && x11_->TrayOwned()) return true;
    return sni_.HostRegistered();
  }

 private:
  StatusNotifierWatch sni_;
  std::unique_ptr<X11TrayWatch> x11_;
};

}  // namespace

std::unique_ptr<TrayPresence> MakeTrayPresence() {
  const QString platform = QGuiApplication::platformName();
  if (platform == QLatin1String("offscreen") || platform == QLatin1String("minimal")) {
    return std::make_unique<NoTrayEver>();
  }
  return std::make_unique<DesktopTrays>(platform == QLatin1String("xcb"));
}

}  // namespace qelta
