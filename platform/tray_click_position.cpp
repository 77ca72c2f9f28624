#include "platform/tray_click_position.h"

#include <QLoggingCategory>
#include <QRegularExpression>
#include <QtGlobal>
#include <chrono>
#include <cstring>
#include <mutex>

namespace qelta {

namespace {

constexpr const char* kTrayCategory = "qt.qpa.tray";
// The toolkit logs the position and reports the click in one go; a position older than this
// belongs to a click that was not reported (a middle click) and must not place anything.
constexpr std::chrono::seconds kFresh{1};

struct Logged {
  std::mutex mutex;
  std::optional<QPoint> position;
  std::chrono::steady_clock::time_point when;
  QtMessageHandler previous_handler = nullptr;
  QLoggingCategory::CategoryFilter previous_filter = nullptr;
  bool listening = false;
};

Logged& State() {
  static Logged state;
  return state;
}

bool IsTrayCategory(const char* name) {
  return name != nullptr && std::strcmp(name, kTrayCategory) == 0;
}

void Filter(QLoggingCategory* category) {
  if (State().previous_filter != nullptr) State().previous_filter(category);
  if (IsTrayCategory(category->categoryName())) category->setEnabled(QtDebugMsg, true);
}

void Handler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  Logged& state = State();
  if (type == QtDebugMsg && IsTrayCategory(context.category)) {
    // Turned on here only for the position; none of the category's debug output is shown.
    if (const std::optional<QPoint> position = TrayClickPosition::Parse(message)) {
      const std::lock_guard<std::mutex> lock(state.mutex);
      state.position = position;
      state.when = std::chrono::steady_clock::now();
    }
    return;
  }
  if (state.previous_handler != nullptr) state.previous_handler(type, context, message);
}

}  // namespace

void TrayClickPosition::Listen() {
  Logged& state = State();
  if (state.listening) return;
  state.listening = true;
  state.previous_handler = qInstallMessageHandler(Handler);
  state.previous_filter = QLoggingCategory::installFilter(Filter);
}

std::optional<QPoint> TrayClickPosition::Take() {
  Logged& state = State();
  const std::lock_guard<std::mutex> lock(state.mutex);
  std::optional<QPoint> position;
  position.swap(state.position);
  if (position && std::chrono::steady_clock::now() - state.when > kFresh) return std::nullopt;
  return position;
}

std::optional<QPoint> TrayClickPosition::Parse(const QString& message) {
  static const QRegularExpression pattern(QStringLiteral("^(-?\\d{1,9}) (-?\\d{1,9})$"));
  const QRegularExpressionMatch match = pattern.match(message);
  if (!match.hasMatch()) return std::nullopt;
  return QPoint(match.captured(1).toInt(), match.captured(2).toInt());
}

}  // namespace qelta
