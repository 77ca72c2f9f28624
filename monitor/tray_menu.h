#pragma once

class QAction;
class QMenu;

namespace qelta {

// Puts the item "Отменить завершение работы" and the separator under it at the top of the tray
// menu while a shutdown countdown runs, where the user looks first, and takes both out when none
// runs. Changes nothing when they already stand as they should, so it may run at every change of
// state while the menu is open (a tray that shows it over D-Bus is told of each change).
void ShowCancelItem(QMenu& menu, QAction& cancel, QAction& divider, bool shutdown_pending);

}  // namespace qelta
