#include "monitor/http_answer_reader.h"

#include <gtest/gtest.h>

#include "qt_print.h"

#include <vector>

namespace qelta {
namespace {

using State = HttpAnswerReader::State;

const QByteArray kAnswer =
    "HTTP/1.1 100 Continue\r\nSet-Cookie: early=1\r\n\r\n"
    "\r\n"
    "HTTP/1.0 200 OK\nSet-Cookie: sid=abc; Path=/\nset-cookie : lang=ru\nX-Note: a:b\n"
    "Content-Length: 5\n\nhello";

const std::vector<QByteArray> kCookies = {"early=1", "sid=abc; Path=/", "lang=ru"};

TEST(HttpAnswerReader, AnswerInAnyPiecesReadsAlike) {
  HttpAnswerReader whole;
  EXPECT_EQ(whole.Take(kAnswer + "trailing bytes"), State::kComplete);
  EXPECT_EQ(whole.Status(), 200);
  EXPECT_EQ(whole.BodyBytes(), 5);
  EXPECT_EQ(whole.TakeSetCookies(), kCookies);
  EXPECT_TRUE(whole.TakeSetCookies().empty());

  for (qsizetype piece : {1, 2, 3, 7, 16}) {
    HttpAnswerReader reader;
    std::vector<QByteArray> cookies;
    for (qsizetype at = 0; at < kAnswer.size(); at += piece) {
      ASSERT_EQ(reader.CurrentState(), State::kReading) << "ended early at " << at;
      reader.Take(kAnswer.mid(at, piece));
      for (QByteArray& c : reader.TakeSetCookies()) cookies.push_back(c);
    }
    EXPECT_EQ(reader.CurrentState(), State::kComplete) << piece;
    EXPECT_EQ(reader.Status(), 200) << piece;
    EXPECT_EQ(cookies, kCookies) << piece;
    EXPECT_EQ(reader.HeadBytes(), kAnswer.size() - 5);
  }

  // The interim answer's cookie is there as soon as its block has ended; the final status only
  // with the final answer.
  HttpAnswerReader stepwise;
  const qsizetype interim_end = kAnswer.indexOf("\r\n\r\n") + 4;
  stepwise.Take(kAnswer.left(interim_end - 1));
  EXPECT_TRUE(stepwise.TakeSetCookies().empty());
  stepwise.Take(kAnswer.mid(interim_end - 1, 1));
  EXPECT_EQ(stepwise.TakeSetCookies(), std::vector<QByteArray>{"early=1"});
  EXPECT_EQ(stepwise.Status(), 0);
}

TEST(HttpAnswerReader, WhereAnAnswerEnds) {
  for (const QByteArray& head : {QByteArray("HTTP/1.0 204 No Content\r\nContent-Length: 9\r\n\r\n"),
                                 QByteArray("HTTP/1.0 304 Not Modified\r\n\r\n"),
                                 QByteArray("HTTP/1.0 200 OK\r\nContent-Length: 0\r\n\r\n")}) {
    HttpAnswerReader reader;
    EXPECT_EQ(reader.Take(head), State::kComplete) << head.toStdString();
  }

  // Without a length the body runs until the server closes; with one, to its last byte.
  HttpAnswerReader open_ended;
  EXPECT_EQ(
      open_ended.Take("HTTP/1.0 500 Oops\r\nContent-Length: x\r\n\r\n" + QByteArray(999, 'x')),
      State::kReading);
  EXPECT_EQ(open_ended.Status(), 500);
  HttpAnswerReader sized;
  EXPECT_EQ(sized.Take("HTTP/1.0 200 OK\r\nContent-Length: 1000\r\n\r\n" + QByteArray(999, 'x')),
            State::kReading);
  EXPECT_EQ(sized.Take("x"), State::kComplete);

  // A server that answers without a status line: its header block is the answer's.
  HttpAnswerReader bare;
  EXPECT_EQ(bare.Take("hello\r\nContent-Length: 2\r\n\r\nok"), State::kComplete);
  EXPECT_EQ(bare.Status(), 0);
}

TEST(HttpAnswerReader, HeadersAndBodyAreCutAtTheirBounds) {
  // Headers: exactly the bound is read, one byte more is cut, whether it is one endless line,
  // blank lines, or interim answers without end.
  const QByteArray head = "HTTP/1.0 200 OK\r\nX: " + QByteArray(70, 'a') + "\r\n\r\n";
  HttpAnswerReader fits(head.size(), 10);
  EXPECT_EQ(fits.Take(head), State::kReading);
  HttpAnswerReader too_long(head.size() - 1, 10);
  EXPECT_EQ(too_long.Take(head), State::kCut);

  for (const QByteArray& unit : {QByteArray("HTTP/1.1 100 Continue\r\n\r\n"), QByteArray("\r\n"),
                                 QByteArray("HTTP/1.0 200 OK\r\nX: "), QByteArray("a")}) {
    HttpAnswerReader reader(HttpAnswerReader::kMaxHeadBytes, 10);
    const QByteArray piece = unit.repeated(4096 / unit.size() + 1);
    qint64 taken = 0;
    while (reader.CurrentState() == State::kReading && taken < 16 * 1024 * 1024) {
      reader.Take(piece);
      taken += piece.size();
    }
    EXPECT_EQ(reader.CurrentState(), State::kCut) << unit.toStdString();
    EXPECT_LE(reader.HeadBytes(), HttpAnswerReader::kMaxHeadBytes) << unit.toStdString();
    // Given up within one piece of the bound: nothing beyond it is read.
    EXPECT_LE(taken, HttpAnswerReader::kMaxHeadBytes + piece.size()) << unit.toStdString();
  }

  // Body: bytes beyond the bound are cut, also when the announced length is larger.
  for (const QByteArray& length : {QByteArray(), QByteArray("Content-Length: 100000\r\n")}) {
    HttpAnswerReader reader(1000, 100);
    EXPECT_EQ(reader.Take("HTTP/1.0 200 OK\r\n" + length + "\r\n" + QByteArray(100, 'x')),
              State::kReading);
    EXPECT_EQ(reader.Take("x"), State::kCut);
    EXPECT_EQ(reader.Take("HTTP/1.0 200 OK\r\n\r\n"), State::kCut);
  }
}

TEST(HttpAnswerReader, LongAnswersAreReadInOnePass) {
  // With bounds far beyond them, long header data in one piece and one long line in many small
  // pieces: a reader that scanned again what it had already scanned would take hours here.
  const qsizetype big = 8 * 1024 * 1024;
  HttpAnswerReader flood(2 * big, 10);
  const QByteArray interim = QByteArray("HTTP/1.1 100 Continue\r\n\r\n").repeated(big / 25);
  EXPECT_EQ(flood.Take(interim + "HTTP/1.0 204 No Content\r\n\r\n"), State::kComplete);
  EXPECT_EQ(flood.Status(), 204);

  HttpAnswerReader long_line(2 * big, 10);
  long_line.Take("HTTP/1.0 200 OK\r\nX-Long: ");
  const QByteArray piece(1000, 'a');
  for (qsizetype n = 0; n < big; n += piece.size())
    ASSERT_EQ(long_line.Take(piece), State::kReading);
  EXPECT_EQ(long_line.Take("\r\nContent-Length: 2\r\n\r\nok"), State::kComplete);
}

}  // namespace
}  // namespace qelta
