#include "monitor/http_poster.h"

#include <QDateTime>
#include <QList>
#include <QMetaObject>
#include <QNetworkCookie>
#include <QNetworkProxy>
#include <QObject>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>
#include <algorithm>

namespace qelta {

namespace {

// Response headers larger than this are not a plausible answer; the exchange is given up.
constexpr qsizetype kMaxHeadSize = 64 * 1024;

bool HasControl(const QByteArray& bytes) {
  return std::any_of(bytes.begin(), bytes.end(), [](char c) {
    const auto b = static_cast<unsigned char>(c);
    return b < 0x20 || b == 0x7F;
  });
}

bool HasControlOrBlank(const QByteArray& bytes) {
  return std::any_of(bytes.begin(), bytes.end(), [](char c) {
    const auto b = static_cast<unsigned char>(c);
    return b <= 0x20 || b == 0x7F;
  });
}

// The Host header's text: the host as written; a name with non-ASCII letters in its ASCII
// (punycode) form, as it is looked up. Empty when there is no usable form: control characters
// would break the request apart. Blanks are left to the name lookup, which fails on them.
QByteArray HostHeader(const QString& host) {
  const bool ascii =
      std::all_of(host.begin(), host.end(), [](QChar c) { return c.unicode() < 0x80; });
  const QByteArray text = ascii ? host.toLatin1() : QUrl::toAce(host);
  return HasControl(text) ? QByteArray() : text;
}

// Where a header block ends ("\r\n\r\n", or "\n\n" from a careless server): the index of the
// first byte after it, or -1.
qsizetype HeadEnd(const QByteArray& bytes) {
  const qsizetype crlf = bytes.indexOf("\r\n\r\n");
  const qsizetype lf = bytes.indexOf("\n\n");
  if (crlf >= 0 && (lf < 0 || crlf < lf)) return crlf + 4;
  if (lf >= 0) return lf + 2;
  return -1;
}

}  // namespace

struct TcpHttpPoster::Exchange {
  QString host_key;
  QByteArray request;
  std::function<void()> done;
  QTcpSocket* socket = nullptr;  // owned by owner_
  QByteArray head;               // response bytes before the end of the headers
  bool headers_done = false;
  qint64 body_left = -1;  // bytes of the body still to come; -1: until the server closes
};

TcpHttpPoster::TcpHttpPoster(std::chrono::milliseconds timeout)
    : timeout_(timeout), owner_(std::make_unique<QObject>()) {
  deadline_ = new QTimer(owner_.get());
  deadline_->setSingleShot(true);
  QObject::connect(deadline_, &QTimer::timeout, owner_.get(), [this] { Finish(); });
}

TcpHttpPoster::~TcpHttpPoster() {
  if (exchange_ != nullptr && exchange_->socket != nullptr) {
    QObject::disconnect(exchange_->socket, nullptr, owner_.get(), nullptr);
    exchange_->socket->abort();
  }
  // owner_ takes the sockets, the deadline timer and any `done` not yet run with it.
}

void TcpHttpPoster::Post(const QString& host, quint16 port, const QByteArray& path,
                         const QByteArray& body, std::function<void()> done) {
  if (exchange_ != nullptr) Finish();

  exchange_ = std::make_unique<Exchange>();
  Exchange& ex = *exchange_;
  ex.done = std::move(done);
  ex.host_key = host.toLower();
  deadline_->start(timeout_);

  const QByteArray host_header = HostHeader(host);
  if (host_header.isEmpty() || path.isEmpty() || HasControlOrBlank(path)) {
    // Nothing that could be looked up or sent: the exchange fails at once.
    Finish();
    return;
  }

  ex.request = "POST " + path + " HTTP/1.0\r\n" +
               "Connection: keep-alive\r\n"
               "Content-Type: application/x-www-form-urlencoded\r\n"
               "Content-Length: " +
               QByteArray::number(body.size()) + "\r\n" + "Host: " + host_header + "\r\n" +
               "Accept: text/html, */*\r\n"
               "User-Agent: Mozilla/3.0 (compatible; Indy Library)\r\n";
  const QByteArray cookie = CookieHeader(ex.host_key);
  if (!cookie.isEmpty()) ex.request += "Cookie: " + cookie + "\r\n";
  ex.request += "\r\n" + body;

  ex.socket = new QTcpSocket(owner_.get());
  ex.socket->setProxy(QNetworkProxy::NoProxy);
  QObject* context = owner_.get();
  QObject::connect(ex.socket, &QTcpSocket::connected, context, [this] { OnConnected(); });
  QObject::connect(ex.socket, &QTcpSocket::readyRead, context, [this] { OnReadyRead(); });
  // The end of the connection (the server closing is the normal end of an HTTP/1.0 answer)
  // or any failure ends the exchange; whatever arrived before is read first.
  auto end = [this] {
    if (exchange_ == nullptr) return;
    OnReadyRead();
    Finish();
  };
  QObject::connect(ex.socket, &QTcpSocket::disconnected, context, end);
  QObject::connect(ex.socket, &QTcpSocket::errorOccurred, context, end);
  ex.socket->connectToHost(host, port);
}

void TcpHttpPoster::OnConnected() {
  if (exchange_ == nullptr) return;
  exchange_->socket->write(exchange_->request);
}

void TcpHttpPoster::OnReadyRead() {
  if (exchange_ == nullptr) return;
  Exchange& ex = *exchange_;
  QByteArray data = ex.socket->readAll();
  while (!ex.headers_done) {
    ex.head += data;
    data.clear();
    const qsizetype end = HeadEnd(ex.head);
    if (end < 0) {
      if (ex.head.size() > kMaxHeadSize) Finish();
      return;
    }
    data = ex.head.mid(end);
    const QByteArray block = ex.head.left(end);
    ex.head.clear();
    const int status = ParseHeaders(block);
    // An interim answer (1xx) is followed by the real one.
    if (status >= 100 && status < 200) continue;
    ex.headers_done = true;
    if (status == 204 || status == 304) ex.body_left = 0;
  }
  if (ex.body_left >= 0) {
    ex.body_left -= std::min<qint64>(ex.body_left, data.size());
    // A server that keeps the connection open has said all it will say.
    if (ex.body_left == 0) Finish();
  }
}

int TcpHttpPoster::ParseHeaders(const QByteArray& head) {
  const QList<QByteArray> lines = head.split('\n');
  int status = 0;
  if (!lines.isEmpty() && lines.front().startsWith("HTTP/")) {
    const QList<QByteArray> words = lines.front().simplified().split(' ');
    if (words.size() >= 2) status = words[1].toInt();
  }
  qint64 length = -1;
  for (qsizetype i = 1; i < lines.size(); ++i) {
    const QByteArray line = lines[i].trimmed();
    const qsizetype colon = line.indexOf(':');
    if (colon <= 0) continue;
    const QByteArray name = line.left(colon).trimmed().toLower();
    const QByteArray value = line.mid(colon + 1).trimmed();
    if (name == "content-length") {
      bool ok = false;
      const qint64 n = value.toLongLong(&ok);
      length = ok && n >= 0 ? n : -1;
    } else if (name == "set-cookie") {
      StoreCookies(value);
    }
  }
  exchange_->body_left = length;
  return status;
}

void TcpHttpPoster::StoreCookies(const QByteArray& set_cookie) {
  CookieList& list = cookies_[exchange_->host_key];
  const QDateTime now = QDateTime::currentDateTimeUtc();
  for (const QNetworkCookie& cookie : QNetworkCookie::parseCookies(set_cookie)) {
    const QByteArray name = cookie.name();
    // A name or value that could not be sent back inside one header line is not kept.
    if (name.isEmpty() || HasControl(name) || HasControl(cookie.value())) continue;
    auto it =
        std::find_if(list.begin(), list.end(), [&](const auto& c) { return c.first == name; });
    const bool expired = cookie.expirationDate().isValid() && cookie.expirationDate() <= now;
    if (expired) {
      if (it != list.end()) list.erase(it);
    } else if (it != list.end()) {
      it->second = cookie.value();
    } else {
      list.emplace_back(name, cookie.value());
    }
  }
  if (list.empty()) cookies_.erase(exchange_->host_key);
}

QByteArray TcpHttpPoster::CookieHeader(const QString& host_key) const {
  const auto it = cookies_.find(host_key);
  if (it == cookies_.end()) return {};
  QByteArray header;
  for (const auto& [name, value] : it->second) {
    if (!header.isEmpty()) header += "; ";
    header += name + "=" + value;
  }
  return header;
}

void TcpHttpPoster::Finish() {
  if (exchange_ == nullptr) return;
  std::unique_ptr<Exchange> ex = std::move(exchange_);
  deadline_->stop();
  if (ex->socket != nullptr) {
    QObject::disconnect(ex->socket, nullptr, owner_.get(), nullptr);
    ex->socket->abort();
    ex->socket->deleteLater();
  }
  // Never from inside Post() or a socket's signal: the caller may start the next exchange.
  if (ex->done) QMetaObject::invokeMethod(owner_.get(), std::move(ex->done), Qt::QueuedConnection);
}

}  // namespace qelta
