#include "monitor/http_cookie_jar.h"

#include <QDateTime>
#include <QList>
#include <QNetworkCookie>
#include <algorithm>

namespace qelta {

namespace {

bool HasControl(const QByteArray& bytes) {
  return std::any_of(bytes.begin(), bytes.end(), [](char c) {
    const auto b = static_cast<unsigned char>(c);
    return b < 0x20 || b == 0x7F;
  });
}

}  // namespace

void HttpCookieJar::Store(const QString& host, const QByteArray& set_cookie) {
  const QString key = host.toLower();
  auto found =
      std::find_if(hosts_.begin(), hosts_.end(), [&](const Host& h) { return h.name == key; });
  Host entry{key, {}};
  if (found != hosts_.end()) {
    entry = std::move(*found);
    hosts_.erase(found);
  }
  std::vector<Cookie>& list = entry.cookies;

  const QDateTime now = QDateTime::currentDateTimeUtc();
  for (const QNetworkCookie& cookie : QNetworkCookie::parseCookies(set_cookie)) {
    const QByteArray name = cookie.name();
    const QByteArray value = cookie.value();
    // A name or value that could not be sent back inside one header line is not kept, nor is
    // a cookie larger than any browser keeps.
    if (name.isEmpty() || HasControl(name) || HasControl(value)) continue;
    if (name.size() + value.size() > kMaxCookieBytes) continue;
    auto it =
        std::find_if(list.begin(), list.end(), [&](const Cookie& c) { return c.first == name; });
    const bool expired = cookie.expirationDate().isValid() && cookie.expirationDate() <= now;
    if (expired) {
      if (it != list.end()) list.erase(it);
    } else if (it != list.end()) {
      it->second = value;
    } else {
      if (list.size() >= kMaxCookiesPerHost) list.erase(list.begin());
      list.emplace_back(name, value);
    }
  }

  if (list.empty()) return;
  hosts_.push_back(std::move(entry));
  if (hosts_.size() > kMaxHosts) hosts_.erase(hosts_.begin());
}

QByteArray HttpCookieJar::Header(const QString& host) const {
  const Host* entry = Find(host.toLower());
  if (entry == nullptr) return {};
  QByteArray header;
  for (const auto& [name, value] : entry->cookies) {
    if (!header.isEmpty()) header += "; ";
    header += name + "=" + value;
  }
  return header;
}

std::size_t HttpCookieJar::CookieCount(const QString& host) const {
  const Host* entry = Find(host.toLower());
  return entry == nullptr ? 0 : entry->cookies.size();
}

const HttpCookieJar::Host* HttpCookieJar::Find(const QString& key) const {
  const auto it =
      std::find_if(hosts_.begin(), hosts_.end(), [&](const Host& h) { return h.name == key; });
  return it == hosts_.end() ? nullptr : &*it;
}

}  // namespace qelta
