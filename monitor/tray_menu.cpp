#include "monitor/tray_menu.h"

#include <QAction>
#include <QMenu>

namespace qelta {

void RebuildTrayMenuTail(QMenu& menu, bool shutdown_pending, const std::function<void()>& cancel) {
  const QList<QAction*> actions = menu.actions();
  for (auto it = actions.rbegin(); it != actions.rend(); ++it) {
    if ((*it)->property("tag").toInt() == 1) {
      menu.removeAction(*it);
      delete *it;
    }
  }
  if (!shutdown_pending) return;
  QAction* divider = menu.addSeparator();
  divider->setProperty("tag", 1);
  QAction* item = menu.addAction(QStringLiteral("Отменить завершение работы"));
  item->setProperty("tag", 1);
  QObject::connect(item, &QAction::triggered, &menu, [cancel] { cancel(); });
}

}  // namespace qelta
