#include "monitor/http_cookie_jar.h"

#include <gtest/gtest.h>

#include "qt_print.h"

namespace qelta {
namespace {

QByteArray Names(int from, int to) {
  QByteArray header;
  for (int i = from; i < to; ++i) {
    if (!header.isEmpty()) header += "; ";
    header += "c" + QByteArray::number(i) + "=v" + QByteArray::number(i);
  }
  return header;
}

TEST(HttpCookieJar, HostKeepsItsNewestCookiesUpToTheBound) {
  HttpCookieJar jar;
  for (int i = 0; i < 120; ++i) {
    jar.Store(QStringLiteral("Ups.Example"),
              "c" + QByteArray::number(i) + "=v" + QByteArray::number(i));
  }
  EXPECT_EQ(jar.CookieCount(QStringLiteral("ups.example")), 50u);
  EXPECT_EQ(jar.Header(QStringLiteral("UPS.example")), Names(70, 120));

  // Set again: keeps its place, takes the new value; the next new cookie pushes out the one
  // set first.
  jar.Store(QStringLiteral("ups.example"), "c71=new; Path=/");
  jar.Store(QStringLiteral("ups.example"), "c500=v500");
  EXPECT_EQ(jar.Header(QStringLiteral("ups.example")),
            "c71=new; " + Names(72, 120) + "; c500=v500");
  // Removed by an expiry in the past.
  jar.Store(QStringLiteral("ups.example"), "c71=; Max-Age=0");
  EXPECT_EQ(jar.CookieCount(QStringLiteral("ups.example")), 49u);
  EXPECT_FALSE(jar.Header(QStringLiteral("ups.example")).contains("c71="));
}

TEST(HttpCookieJar, OversizedCookiesAreNotKept) {
  HttpCookieJar jar;
  const QString host = QStringLiteral("h");
  const QByteArray largest(HttpCookieJar::kMaxCookieBytes - 4, 'x');  // "name" + value
  jar.Store(host, "name=" + largest);
  EXPECT_EQ(jar.Header(host), "name=" + largest);
  jar.Store(host, "name=" + largest + "y");  // one byte too many: the kept value stays
  jar.Store(host, "other=" + largest);
  EXPECT_EQ(jar.Header(host), "name=" + largest);

  HttpCookieJar empty;
  empty.Store(host, "big=" + QByteArray(5000, 'x'));
  EXPECT_EQ(empty.HostCount(), 0u);
  EXPECT_TRUE(empty.Header(host).isEmpty());
}

TEST(HttpCookieJar, HostsThatSetCookiesLongestAgoAreForgotten) {
  HttpCookieJar jar;
  const int hosts = static_cast<int>(HttpCookieJar::kMaxHosts) + 4;
  for (int i = 0; i < hosts; ++i) {
    // Host 0 sets cookies again late, so it stays and host 1 goes in its place.
    if (i == static_cast<int>(HttpCookieJar::kMaxHosts))
      jar.Store(QStringLiteral("host0"), "again=1");
    jar.Store(QStringLiteral("host") + QString::number(i), "id=" + QByteArray::number(i));
  }
  EXPECT_EQ(jar.HostCount(), HttpCookieJar::kMaxHosts);
  EXPECT_EQ(jar.Header(QStringLiteral("host0")), "id=0; again=1");
  for (int i = 1; i <= 4; ++i)
    EXPECT_TRUE(jar.Header(QStringLiteral("host") + QString::number(i)).isEmpty()) << i;
  EXPECT_EQ(jar.Header(QStringLiteral("host5")), "id=5");
  EXPECT_EQ(jar.Header(QStringLiteral("host") + QString::number(hosts - 1)),
            "id=" + QByteArray::number(hosts - 1));
}

}  // namespace
}  // namespace qelta
