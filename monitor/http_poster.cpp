#include "monitor/http_poster.h"

#include <QMetaObject>
#include <QNetworkProxy>
#include <QObject>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>
#include <algorithm>

#include "monitor/http_answer_reader.h"

namespace qelta {

namespace {

// What the socket holds of an answer not yet looked at.
constexpr qint64 kReadBufferSize = 64 * 1024;

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
// (punycode) form, as it is looked up; an IPv6 address in brackets; and ":port" after it
// unless the port is HTTP's own 80. Empty when there is no usable form: control characters
// would break the request apart. Blanks are left to the name lookup, which fails on them.
QByteArray HostHeader(const QString& host, quint16 port) {
  const bool ascii =
      std::all_of(host.begin(), host.end(), [](QChar c) { return c.unicode() < 0x80; });
  QByteArray text = ascii ? host.toLatin1() : QUrl::toAce(host);
  if (text.isEmpty() || HasControl(text)) return QByteArray();
  if (text.contains(':')) text = '[' + text + ']';
  if (port != 80) text += ':' + QByteArray::number(port);
  return text;
}

}  // namespace

struct TcpHttpPoster::Exchange {
  QString host_key;
  QByteArray request;
  std::function<void()> done;
  QTcpSocket* socket = nullptr;  // owned by owner_
  HttpAnswerReader answer;
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

  const QByteArray host_header = HostHeader(host, port);
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
  const QByteArray cookie = cookies_.Header(ex.host_key);
  if (!cookie.isEmpty()) ex.request += "Cookie: " + cookie + "\r\n";
  ex.request += "\r\n" + body;

  ex.socket = new QTcpSocket(owner_.get());
  ex.socket->setProxy(QNetworkProxy::NoProxy);
  ex.socket->setReadBufferSize(kReadBufferSize);
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
  HttpAnswerReader::State state = ex.answer.CurrentState();
  char chunk[4096];
  while (state == HttpAnswerReader::State::kReading) {
    const qint64 n = ex.socket->read(chunk, sizeof chunk);
    if (n <= 0) break;
    state = ex.answer.Take(QByteArrayView(chunk, n));
  }
  for (const QByteArray& set_cookie : ex.answer.TakeSetCookies()) {
    cookies_.Store(ex.host_key, set_cookie);
  }
  // Ended, or not worth reading on: a server that keeps the connection open has said all it
  // will say, and one that goes on past the bounds is not listened to.
  if (state != HttpAnswerReader::State::kReading) Finish();
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
