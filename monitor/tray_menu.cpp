#include "monitor/tray_menu.h"

#include <QAction>
#include <QMenu>

namespace qelta {

void ShowCancelItem(QMenu& menu, QAction& cancel, QAction& divider, bool shutdown_pending) {
  const QList<QAction*> actions = menu.actions();
  const bool at_top = actions.size() >= 2 && actions[0] == &cancel && actions[1] == &divider;
  if (shutdown_pending == at_top) return;
  menu.removeAction(&cancel);
  menu.removeAction(&divider);
  if (!shutdown_pending) return;
  QAction* first = menu.actions().value(0, nullptr);
  menu.insertAction(first, &cancel);
  menu.insertAction(first, &divider);
}

}  // namespace qelta
