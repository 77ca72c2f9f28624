#include "settings/report_address.h"

#include <QUrl>
#include <algorithm>

namespace qelta {

namespace {

QString Text(const char* utf8) {
  return QString::fromUtf8(utf8);
}

ReportAddressCheck Refused(const char* reason) {
  ReportAddressCheck check;
  check.problem = Text(reason);
  return check;
}

// The scheme in front of "://", when there is one: letters first, then letters, digits,
// "+", "-" or "." (so "host:8080/x" has none).
qsizetype SchemeLength(const QString& url) {
  const qsizetype end = url.indexOf(QStringLiteral("://"));
  if (end <= 0) return -1;
  for (qsizetype i = 0; i < end; ++i) {
    const QChar c = url[i];
    const bool letter = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
    const bool other = (c >= u'0' && c <= u'9') || c == u'+' || c == u'-' || c == u'.';
    if (!letter && !(i > 0 && other)) return -1;
  }
  return end;
}

// The path cut to `max` characters, counting a character beyond the Basic Multilingual
// Plane as one, so that it is never cut in half.
QString CutPath(QString path, int max) {
  qsizetype end = 0;
  for (int count = 0; end < path.size() && count < max; ++count) {
    end += path[end].isHighSurrogate() && end + 1 < path.size() && path[end + 1].isLowSurrogate()
               ? 2
               : 1;
  }
  path.truncate(end);
  return path;
}

bool IsIPv6Text(const QString& text) {
  return text.contains(u':') && std::all_of(text.begin(), text.end(), [](QChar c) {
           return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') ||
                  (c >= u'A' && c <= u'F') || c == u':' || c == u'.';
         });
}

}  // namespace

ReportAddressCheck ReadReportAddress(const QString& url) {
  QString rest = url.trimmed();
  if (rest.isEmpty()) return Refused("Адрес не указан.");

  const qsizetype scheme = SchemeLength(rest);
  if (scheme > 0) {
    const QString name = rest.left(scheme).toLower();
    if (name == u"https") {
      return Refused(
          "Адреса https:// не поддерживаются: отчёт передаётся без шифрования. "
          "Укажите адрес с http:// или без него.");
    }
    if (name != u"http") return Refused("Поддерживаются только адреса http://.");
    rest = rest.mid(scheme + 3);
  }

  // The host and port end where the path or the query begins.
  qsizetype path_start = rest.size();
  for (const QChar end : {u'/', u'?'}) {
    const qsizetype at = rest.indexOf(end);
    if (at >= 0 && at < path_start) path_start = at;
  }
  QString authority = rest.left(path_start);
  QString path = rest.mid(path_start);
  if (path.isEmpty() || path.front() != u'/') path.prepend(u'/');

  if (authority.contains(u'@')) {
    return Refused("Имя пользователя в адресе не поддерживается.");
  }

  ReportAddressCheck check;
  QString port_text;
  bool has_port = false;
  if (authority.startsWith(u'[')) {
    const qsizetype close = authority.indexOf(u']');
    if (close < 0) return Refused("Не закрыта скобка адреса IPv6.");
    check.address.host = authority.mid(1, close - 1);
    const QString after = authority.mid(close + 1);
    if (!after.isEmpty()) {
      if (after.front() != u':') return Refused("После адреса IPv6 может стоять только :порт.");
      has_port = true;
      port_text = after.mid(1);
    }
    if (!IsIPv6Text(check.address.host)) return Refused("Неверный адрес IPv6.");
  } else {
    const qsizetype colon = authority.indexOf(u':');
    check.address.host = authority.left(colon);
    if (colon >= 0) {
      has_port = true;
      port_text = authority.mid(colon + 1);
    }
    if (check.address.host.isEmpty()) return Refused("Не указано имя или адрес сервера.");
    if (QUrl::toAce(check.address.host).isEmpty()) {
      return Refused("Неверное имя сервера: допустимы буквы, цифры, «-» и «.».");
    }
  }
  if (has_port) {
    bool number = !port_text.isEmpty() && std::all_of(port_text.begin(), port_text.end(),
                                                      [](QChar c) { return c.isDigit(); });
    const uint port = number ? port_text.toUInt(&number) : 0;
    if (!number || port < 1 || port > 65535) {
      return Refused("Порт должен быть числом от 1 до 65535.");
    }
    check.address.port = static_cast<quint16>(port);
  }
  check.address.path = CutPath(path, kMaxReportPathLength);
  return check;
}

QString ReportAddressHint() {
  return Text(
      "Адрес HTTP-сервера: имя или IP-адрес, при необходимости :порт, затем путь, "
      "например example.com:8080/catch_from_ups?some=param.");
}

}  // namespace qelta
