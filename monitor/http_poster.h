#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <chrono>
#include <functional>
#include <memory>

#include "monitor/http_cookie_jar.h"

class QObject;
class QTimer;

namespace qelta {

// Sends one form POST and tells when the exchange has ended, whatever its outcome.
class HttpPoster {
 public:
  virtual ~HttpPoster() = default;

  // Posts `body` to `path` on `host`:`port` (the Host header names the port unless it is 80).
  // `done` runs once when the exchange has ended (answered, failed or given up); the outcome is not
  // reported.
  virtual void Post(const QString& host, quint16 port, const QByteArray& path,
                    const QByteArray& body, std::function<void()> done) = 0;
};

// HTTP/1.0 form POST over a new TCP connection per exchange, on the Qt event loop of the
// calling thread: Post() returns at once and `done` runs later from the event loop (never from
// inside Post()). One exchange at a time: a Post() while one is running closes the running one
// first (its `done` still runs). The whole exchange (name lookup, connect, send, receive) is
// bounded by the time-out; the answer is read and thrown away (HttpAnswerReader: read in linear
// time, an answer whose headers or body go on beyond their bounds is cut and the exchange
// ends), only its cookies are kept, per host, for the life of the object and sent back to the
// same host (HttpCookieJar, bounded in number and size). No proxy is used.
// Destroying the poster drops a running exchange without running its `done`.
class TcpHttpPoster : public HttpPoster {
 public:
  static constexpr std::chrono::milliseconds kDefaultTimeout{10000};

  explicit TcpHttpPoster(std::chrono::milliseconds timeout = kDefaultTimeout);
  ~TcpHttpPoster() override;

  TcpHttpPoster(const TcpHttpPoster&) = delete;
  TcpHttpPoster& operator=(const TcpHttpPoster&) = delete;

  void Post(const QString& host, quint16 port, const QByteArray& path, const QByteArray& body,
            std::function<void()> done) override;

  // True from Post() until the exchange has ended.
  bool Busy() const { return exchange_ != nullptr; }

 private:
  struct Exchange;

  void OnConnected();
  void OnReadyRead();
  void Finish();

  std::chrono::milliseconds timeout_;
  // Parent of the sockets and timers of exchanges; they are deleted with it.
  std::unique_ptr<QObject> owner_;
  QTimer* deadline_ = nullptr;  // bounds the running exchange; owned by owner_
  std::unique_ptr<Exchange> exchange_;
  HttpCookieJar cookies_;
};

}  // namespace qelta
