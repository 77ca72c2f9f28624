#pragma once

#include <QString>

namespace qelta {

// Opens a web address in the user's browser. The outcome is not reported: a page that cannot
// be opened shows nothing.
class WebPages {
 public:
  virtual ~WebPages() = default;
  virtual void Open(const QString& address) = 0;
};

// The desktop's handler of web addresses (QDesktopServices).
class DesktopWebPages : public WebPages {
 public:
  void Open(const QString& address) override;
};

}  // namespace qelta
