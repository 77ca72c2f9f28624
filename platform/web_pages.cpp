#include "platform/web_pages.h"

#include <QDesktopServices>
#include <QUrl>

namespace qelta {

void DesktopWebPages::Open(const QString& address) {
  QDesktopServices::openUrl(QUrl(address));
}

}  // namespace qelta
