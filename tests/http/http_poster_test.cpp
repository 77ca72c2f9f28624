#include "monitor/http_poster.h"

#include <gtest/gtest.h>

#include "qt_print.h"

#include <QCoreApplication>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <memory>
#include <vector>

#include "monitor/report_fields.h"

namespace qelta {
namespace {

using namespace std::chrono_literals;

void EnsureApplication() {
  if (QCoreApplication::instance() != nullptr) return;
  static int argc = 1;
  static char name[] = "test_http";
  static char* argv[] = {name, nullptr};
  static QCoreApplication* app = new QCoreApplication(argc, argv);
  (void)app;
}

// An HTTP server on 127.0.0.1 and an ephemeral port that records the raw bytes of every
// request and answers as told.
class RecordingServer {
 public:
  enum class Mode {
    kAnswerAndClose,      // the answer, then the server closes the connection
    kAnswerAndKeepOpen,   // the answer, and the connection stays open
    kNeverAnswer,         // reads the request and stays silent
    kCloseWithoutAnswer,  // closes as soon as the request is in
    kEndless,             // the answer, then `endless` over and over until the client closes
  };

  struct Connection {
    QTcpSocket* socket = nullptr;
    QByteArray bytes;
    bool complete = false;
    bool closed_by_peer = false;
  };

  RecordingServer() {
    EXPECT_TRUE(server_.listen(QHostAddress::LocalHost, 0)) << "cannot listen on 127.0.0.1";
    QObject::connect(&server_, &QTcpServer::newConnection, &server_, [this] { Accept(); });
  }

  quint16 Port() const { return server_.serverPort(); }

  Mode mode = Mode::kAnswerAndClose;
  // The answers in turn; the last one repeats.
  std::vector<QByteArray> answers = {"HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\nok"};
  QByteArray endless;
  std::vector<std::unique_ptr<Connection>> connections;

  int CompleteRequests() const {
    int n = 0;
    for (const auto& c : connections) n += c->complete ? 1 : 0;
    return n;
  }

 private:
  void Accept() {
    while (QTcpSocket* socket = server_.nextPendingConnection()) {
      auto conn = std::make_unique<Connection>();
      conn->socket = socket;
      Connection* c = conn.get();
      connections.push_back(std::move(conn));
      QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, c] { Read(*c); });
      QObject::connect(socket, &QTcpSocket::disconnected, socket,
                       [c] { c->closed_by_peer = true; });
    }
  }

  void Read(Connection& c) {
    c.bytes += c.socket->readAll();
    if (c.complete) return;
    const qsizetype head_end = c.bytes.indexOf("\r\n\r\n");
    if (head_end < 0) return;
    qint64 length = 0;
    for (const QByteArray& line : c.bytes.left(head_end).split('\n')) {
      if (line.toLower().startsWith("content-length:"))
        length = line.mid(15).trimmed().toLongLong();
    }
    if (c.bytes.size() < head_end + 4 + length) return;
    c.complete = true;
    const size_t index = static_cast<size_t>(CompleteRequests() - 1);
    const QByteArray answer = answers[std::min(index, answers.size() - 1)];
    switch (mode) {
      case Mode::kAnswerAndClose:
        c.socket->write(answer);
        c.socket->disconnectFromHost();
        break;
      case Mode::kAnswerAndKeepOpen:
        c.socket->write(answer);
        break;
      case Mode::kNeverAnswer:
        break;
      case Mode::kCloseWithoutAnswer:
        c.socket->disconnectFromHost();
        break;
      case Mode::kEndless: {
        c.socket->write(answer);
        const QByteArray block = endless.repeated(64 * 1024 / endless.size() + 1);
        auto more = [&c, block] {
          while (c.socket->state() == QAbstractSocket::ConnectedState &&
                 c.socket->bytesToWrite() < 4 * block.size()) {
            c.socket->write(block);
          }
        };
        QObject::connect(c.socket, &QTcpSocket::bytesWritten, c.socket, more);
        more();
        break;
      }
    }
  }

  QTcpServer server_;
};

class HttpPosterTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { EnsureApplication(); }

  // Runs the event loop until `done` has run `n` times in all, or 5 s have passed.
  bool WaitDone(int n) {
    return QTest::qWaitFor([&] { return done_count >= n; }, 5000);
  }
  std::function<void()> Done() {
    return [this] { ++done_count; };
  }

  int done_count = 0;
  const QByteArray body = EncodeReportBody(MakeReportFields(
      QStringLiteral("220.0V"), QStringLiteral("219.5V"), QStringLiteral("15%"),
      QStringLiteral("50.0Hz"), QStringLiteral("100%"), QStringLiteral("25.0°C"), TUPSStatus{}));
};

TEST_F(HttpPosterTest, RequestOnTheWire) {
  RecordingServer server;
  TcpHttpPoster poster;
  poster.Post(QStringLiteral("127.0.0.1"), server.Port(), "/catch_from_ups?some=param", body,
              Done());
  EXPECT_TRUE(poster.Busy());
  EXPECT_EQ(done_count, 0);  // never from inside Post()
  ASSERT_TRUE(WaitDone(1));
  EXPECT_FALSE(poster.Busy());
  ASSERT_EQ(server.connections.size(), 1u);
  const QByteArray expected_body =
      "IP_voltage=220%2E0V&OP_voltage=219%2E5V&OP_current=15%25&OP_frequency=50%2E0Hz&"
      "battery_voltage=100%25&temp=25%2E0%B0C&status_using_battery=0&status_battery_low=0&"
      "status_avr=0&status_ups_failed=0&status_ups_is_line_interactive=0&status_testing=0&"
      "status_shutdown=0&status_beeper=0&";
  EXPECT_EQ(server.connections[0]->bytes,
            "POST /catch_from_ups?some=param HTTP/1.0\r\n"
            "Connection: keep-alive\r\n"
            "Content-Type: application/x-www-form-urlencoded\r\n"
            "Content-Length: 279\r\n"
            "Host: 127.0.0.1:" +
                QByteArray::number(server.Port()) +  // a port other than 80 is named
                "\r\n"
                "Accept: text/html, */*\r\n"
                "User-Agent: Mozilla/3.0 (compatible; Indy Library)\r\n"
                "\r\n" +
                expected_body);
  QTest::qWait(50);
  EXPECT_EQ(done_count, 1);  // once
}

TEST_F(HttpPosterTest, CookiesGoBackToTheHostThatSetThem) {
  RecordingServer server;
  server.answers = {
      "HTTP/1.0 200 OK\r\nSet-Cookie: sid=abc; Path=/\r\nset-cookie: lang=ru\r\n"
      "Content-Length: 2\r\n\r\nok",
      "HTTP/1.0 200 OK\r\nSet-Cookie: sid=xyz\r\nSet-Cookie: lang=; Max-Age=0\r\n\r\n",
      "HTTP/1.0 200 OK\r\n\r\n"};
  TcpHttpPoster poster;
  const QString here = QStringLiteral("127.0.0.1");
  poster.Post(here, server.Port(), "/a", body, Done());
  ASSERT_TRUE(WaitDone(1));
  poster.Post(here, server.Port(), "/b", body, Done());
  ASSERT_TRUE(WaitDone(2));
  poster.Post(QStringLiteral("localhost"), server.Port(), "/c", body, Done());
  ASSERT_TRUE(WaitDone(3));
  poster.Post(here, server.Port(), "/d", body, Done());
  ASSERT_TRUE(WaitDone(4));

  ASSERT_EQ(server.connections.size(), 4u);
  const auto& c = server.connections;
  const QByteArray agent = "User-Agent: Mozilla/3.0 (compatible; Indy Library)\r\n";
  EXPECT_TRUE(c[0]->bytes.contains(agent + "\r\n"));
  EXPECT_FALSE(c[0]->bytes.contains("Cookie"));
  EXPECT_TRUE(c[1]->bytes.contains(agent + "Cookie: sid=abc; lang=ru\r\n\r\n"))
      << c[1]->bytes.toStdString();
  EXPECT_TRUE(
      c[2]->bytes.contains("Host: localhost:" + QByteArray::number(server.Port()) + "\r\n"));
  EXPECT_FALSE(c[2]->bytes.contains("Cookie")) << c[2]->bytes.toStdString();
  // Replaced by the second answer, and one of them deleted by it.
  EXPECT_TRUE(c[3]->bytes.contains(agent + "Cookie: sid=xyz\r\n\r\n")) << c[3]->bytes.toStdString();
}

TEST_F(HttpPosterTest, ServerKeepingTheConnectionOpenEndsWithTheAnswer) {
  RecordingServer server;
  server.mode = RecordingServer::Mode::kAnswerAndKeepOpen;
  server.answers = {
      "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\nhello",
      "HTTP/1.0 204 No Content\r\n\r\n"};
  // Longer than the wait: only the answer can end these exchanges in time.
  TcpHttpPoster poster(60s);
  poster.Post(QStringLiteral("127.0.0.1"), server.Port(), "/", body, Done());
  ASSERT_TRUE(WaitDone(1));
  poster.Post(QStringLiteral("127.0.0.1"), server.Port(), "/", body, Done());
  ASSERT_TRUE(WaitDone(2));
  ASSERT_TRUE(QTest::qWaitFor([&] { return server.connections[1]->closed_by_peer; }, 5000));
  EXPECT_TRUE(server.connections[0]->closed_by_peer);
}

TEST_F(HttpPosterTest, AnswersWithoutEndAreCutLongBeforeTheTimeOut) {
  struct Hostile {
    const char* what;
    QByteArray answer;
    QByteArray endless;
  };
  const std::vector<Hostile> hostile = {
      {"interim answers", "", "HTTP/1.1 100 Continue\r\n\r\n"},
      {"interim answers setting cookies", "",
       "HTTP/1.1 103 Early Hints\r\nSet-Cookie: c=1\r\n\r\n"},
      {"one header line", "HTTP/1.0 200 OK\r\nX-Padding: ", "a"},
      {"blank lines", "", "\r\n"},
      {"body", "HTTP/1.0 500 Internal Server Error\r\n\r\n", "x"},
      {"body longer than announced", "HTTP/1.0 200 OK\r\nContent-Length: 999999999\r\n\r\n", "x"}};
  // The time-out is far beyond the wait: only the bounds on the answer can end these
  // exchanges in time.
  TcpHttpPoster poster(600s);
  int n = 0;
  for (const Hostile& h : hostile) {
    RecordingServer server;
    server.mode = RecordingServer::Mode::kEndless;
    server.answers = {h.answer};
    server.endless = h.endless;
    poster.Post(QStringLiteral("127.0.0.1"), server.Port(), "/", body, Done());
    ASSERT_TRUE(WaitDone(++n)) << "an endless stream of " << h.what << " was not cut";
    EXPECT_FALSE(poster.Busy());
    ASSERT_EQ(server.connections.size(), 1u);
    EXPECT_TRUE(QTest::qWaitFor([&] { return server.connections[0]->closed_by_peer; }, 5000))
        << h.what;
  }

  // A long answer that does end is read to its end.
  RecordingServer server;
  server.answers = {"HTTP/1.0 200 OK\r\nContent-Length: 1000000\r\n\r\n" +
                    QByteArray(1000000, 'x')};
  server.mode = RecordingServer::Mode::kAnswerAndKeepOpen;
  poster.Post(QStringLiteral("127.0.0.1"), server.Port(), "/", body, Done());
  ASSERT_TRUE(WaitDone(++n));
  EXPECT_EQ(server.CompleteRequests(), 1);
}

TEST_F(HttpPosterTest, CookieFloodKeepsTheCookieHeaderBounded) {
  // Three answers setting 2000 cookies each, then one that sets none.
  RecordingServer server;
  server.answers.clear();
  for (int answer = 0; answer < 3; ++answer) {
    QByteArray head = "HTTP/1.0 200 OK\r\n";
    for (int i = 0; i < 2000; ++i) {
      head += "Set-Cookie: c" + QByteArray::number(answer * 2000 + i) + "=v\r\n";
    }
    server.answers.push_back(head + "\r\n");
  }
  server.answers.push_back("HTTP/1.0 200 OK\r\n\r\n");
  TcpHttpPoster poster(60s);
  for (int i = 1; i <= 5; ++i) {
    poster.Post(QStringLiteral("127.0.0.1"), server.Port(), "/", body, Done());
    ASSERT_TRUE(WaitDone(i));
  }
  ASSERT_EQ(server.connections.size(), 5u);

  // Only the 50 cookies set last go back, in the order they were set.
  QByteArray newest;
  for (int i = 5950; i < 6000; ++i)
    newest += (newest.isEmpty() ? "c" : "; c") + QByteArray::number(i) + "=v";
  for (int i = 3; i < 5; ++i) {
    const QByteArray& sent = server.connections[static_cast<size_t>(i)]->bytes;
    const qsizetype head_end = sent.indexOf("\r\n\r\n");
    ASSERT_GE(head_end, 0);
    EXPECT_TRUE(sent.left(head_end + 4).endsWith("\r\nCookie: " + newest + "\r\n\r\n"))
        << sent.left(300).toStdString();
    EXPECT_TRUE(sent.endsWith("\r\n\r\n" + body));
  }
}

TEST_F(HttpPosterTest, SilentServerIsGivenUpAfterTheBoundAndTheLoopKeepsRunning) {
  RecordingServer server;
  server.mode = RecordingServer::Mode::kNeverAnswer;
  TcpHttpPoster poster(1s);  // the program uses 10 s
  int ticks = 0;
  QTimer ticker;
  QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
  ticker.start(10);

  poster.Post(QStringLiteral("127.0.0.1"), server.Port(), "/", body, Done());
  ASSERT_TRUE(QTest::qWaitFor([&] { return server.CompleteRequests() == 1; }, 5000));
  EXPECT_EQ(done_count, 0);  // the request is in and the server is silent: still waiting
  const int ticks_before = ticks;
  ASSERT_TRUE(WaitDone(1));
  EXPECT_GT(ticks, ticks_before);
  EXPECT_FALSE(poster.Busy());
  ASSERT_TRUE(QTest::qWaitFor([&] { return server.connections[0]->closed_by_peer; }, 5000));

  // The next report goes out.
  server.mode = RecordingServer::Mode::kAnswerAndClose;
  poster.Post(QStringLiteral("127.0.0.1"), server.Port(), "/next", body, Done());
  ASSERT_TRUE(WaitDone(2));
  ASSERT_EQ(server.connections.size(), 2u);
  EXPECT_TRUE(server.connections[1]->bytes.startsWith("POST /next HTTP/1.0\r\n"));
}

TEST_F(HttpPosterTest, ServerClosingWithoutAnswerEndsTheExchange) {
  RecordingServer server;
  server.mode = RecordingServer::Mode::kCloseWithoutAnswer;
  TcpHttpPoster poster(60s);
  poster.Post(QStringLiteral("127.0.0.1"), server.Port(), "/", body, Done());
  ASSERT_TRUE(WaitDone(1));
  EXPECT_EQ(server.CompleteRequests(), 1);
}

TEST_F(HttpPosterTest, RefusedConnectionAndBadNamesFailQuietly) {
  quint16 closed_port = 0;
  {
    QTcpServer probe;
    ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
    closed_port = probe.serverPort();
  }
  RecordingServer server;
  TcpHttpPoster poster(60s);

  poster.Post(QStringLiteral("127.0.0.1"), closed_port, "/", body, Done());
  EXPECT_EQ(done_count, 0);
  ASSERT_TRUE(WaitDone(1));

  // Names that no lookup can resolve; none of them is sent to a name server.
  for (const QString& host : {QString(), QStringLiteral("no such host"),
                              QStringLiteral("bad\r\nhost"), QStringLiteral(" ")}) {
    const int before = done_count;
    poster.Post(host, server.Port(), "/", body, Done());
    EXPECT_EQ(done_count, before);
    ASSERT_TRUE(WaitDone(before + 1)) << host.toStdString();
  }
  EXPECT_TRUE(server.connections.empty());

  poster.Post(QStringLiteral("127.0.0.1"), server.Port(), "/", body, Done());
  ASSERT_TRUE(WaitDone(6));
  EXPECT_EQ(server.CompleteRequests(), 1);
}

TEST_F(HttpPosterTest, NewPostClosesTheRunningExchangeFirst) {
  RecordingServer silent;
  silent.mode = RecordingServer::Mode::kNeverAnswer;
  RecordingServer answering;
  TcpHttpPoster poster(60s);
  int first_done = 0;
  poster.Post(QStringLiteral("127.0.0.1"), silent.Port(), "/", body, [&] { ++first_done; });
  ASSERT_TRUE(QTest::qWaitFor([&] { return silent.CompleteRequests() == 1; }, 5000));
  poster.Post(QStringLiteral("127.0.0.1"), answering.Port(), "/", body, Done());
  ASSERT_TRUE(WaitDone(1));
  EXPECT_EQ(first_done, 1);
  EXPECT_EQ(answering.CompleteRequests(), 1);
  ASSERT_TRUE(QTest::qWaitFor([&] { return silent.connections[0]->closed_by_peer; }, 5000));
}

TEST_F(HttpPosterTest, DestroyedPosterDropsTheExchangeQuietly) {
  RecordingServer server;
  server.mode = RecordingServer::Mode::kNeverAnswer;
  auto poster = std::make_unique<TcpHttpPoster>(60s);
  poster->Post(QStringLiteral("127.0.0.1"), server.Port(), "/", body, Done());
  ASSERT_TRUE(QTest::qWaitFor([&] { return server.CompleteRequests() == 1; }, 5000));
  poster.reset();
  ASSERT_TRUE(QTest::qWaitFor([&] { return server.connections[0]->closed_by_peer; }, 5000));
  QTest::qWait(50);
  EXPECT_EQ(done_count, 0);
}

}  // namespace
}  // namespace qelta
