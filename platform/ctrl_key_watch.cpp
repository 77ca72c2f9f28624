#include "platform/ctrl_key_watch.h"

#include <QGuiApplication>
#include <QObject>

#include "platform/x11_ctrl_watch.h"

namespace qelta {
namespace {

// Asks the toolkit for the modifier state: on X11 a round trip to the server, elsewhere what
// the session told the program's own windows.
class ToolkitCtrlWatch : public CtrlKeyWatch {
 public:
  // `always`: the state is global (X11) and asked at every check; otherwise it is known only
  // while one of the program's windows is active.
  explicit ToolkitCtrlWatch(bool always) : always_(always) {
    if (always_) return;
    connection_ = QObject::connect(qGuiApp, &QGuiApplication::applicationStateChanged,
                                   [this](Qt::ApplicationState) {
                                     if (handler_) handler_();
                                   });
  }
  ~ToolkitCtrlWatch() override { QObject::disconnect(connection_); }

  bool CtrlDown() override {
    if (!NeedsPolling()) return false;
    return QGuiApplication::queryKeyboardModifiers().testFlag(Qt::ControlModifier);
  }
  bool NeedsPolling() override {
    return always_ || QGuiApplication::applicationState() == Qt::ApplicationActive;
  }
  void SetChangeHandler(std::function<void()> handler) override { handler_ = std::move(handler); }

 private:
  bool always_;
  QMetaObject::Connection connection_;
  std::function<void()> handler_;
};

}  // namespace

std::unique_ptr<CtrlKeyWatch> MakeCtrlKeyWatch() {
  if (QGuiApplication::platformName() == QLatin1String("xcb")) {
    if (std::unique_ptr<X11CtrlWatch> events = X11CtrlWatch::Open()) return events;
    return std::make_unique<ToolkitCtrlWatch>(true);
  }
  return std::make_unique<ToolkitCtrlWatch>(false);
}

}  // namespace qelta
