#pragma once

#include <functional>

class QMenu;

namespace qelta {

// The tray menu's dynamic tail: items whose "tag" property is 1. Removes them all (from the
// last to the first) and, while a shutdown countdown runs, appends a separator and the item
// "Отменить завершение работы" that runs `cancel`.
void RebuildTrayMenuTail(QMenu& menu, bool shutdown_pending, const std::function<void()>& cancel);

}  // namespace qelta
