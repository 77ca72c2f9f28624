#pragma once

#include <QByteArray>
#include <QString>
#include <cstddef>
#include <utility>
#include <vector>

namespace qelta {

// The cookies servers have set, kept per host (names of hosts compare without regard to case)
// for the life of the jar and sent back to the same host. Bounded as browsers bound theirs: a
// cookie whose name and value together are longer than kMaxCookieBytes is not kept; a host
// keeps at most kMaxCookiesPerHost cookies, and a new one beyond that pushes out the one first
// set; at most kMaxHosts hosts keep cookies, the one that set cookies longest ago is forgotten
// first. A cookie set again keeps its place and takes the new value; one that is set with an
// expiry in the past is removed.
class HttpCookieJar {
 public:
  static constexpr std::size_t kMaxCookiesPerHost = 50;
  static constexpr qsizetype kMaxCookieBytes = 4096;
  static constexpr std::size_t kMaxHosts = 16;

  // Takes the value of one Set-Cookie header that `host` sent.
  void Store(const QString& host, const QByteArray& set_cookie);

  // The value of the Cookie header for `host`: its cookies as name=value, in the order they
  // were first set, joined by "; "; empty when it has none.
  QByteArray Header(const QString& host) const;

  std::size_t CookieCount(const QString& host) const;
  std::size_t HostCount() const { return hosts_.size(); }

 private:
  using Cookie = std::pair<QByteArray, QByteArray>;  // name, value
  struct Host {
    QString name;  // lower case
    std::vector<Cookie> cookies;
  };

  const Host* Find(const QString& key) const;

  std::vector<Host> hosts_;  // the host that set cookies most recently last
};

}  // namespace qelta
