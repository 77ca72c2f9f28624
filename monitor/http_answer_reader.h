#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QtGlobal>
#include <vector>

namespace qelta {

// Follows the answer to an HTTP/1.0 request as its bytes arrive, keeping only what the exchange
// needs: where the answer ends and the cookies it sets. Every byte is looked at once, however
// the answer is cut into pieces, so the cost grows with its length and no faster. What is kept
// is bounded: the header blocks of one answer (interim 1xx answers and the final one together)
// may take `max_head` bytes, the line being read included; the body is counted and thrown
// away, and an answer whose body goes on beyond `max_body` bytes is cut there.
class HttpAnswerReader {
 public:
  // Far beyond what a real report server sends; a server setting the most cookies a host may
  // keep at their largest still fits in two answers.
  static constexpr qsizetype kMaxHeadBytes = 64 * 1024;
  static constexpr qint64 kMaxBodyBytes = 1024 * 1024;

  enum class State {
    kReading,   // more of the answer is to come
    kComplete,  // the answer has ended (its Content-Length reached, or none can follow)
    kCut,       // the answer broke a bound; the rest is not worth reading
  };

  explicit HttpAnswerReader(qsizetype max_head = kMaxHeadBytes, qint64 max_body = kMaxBodyBytes);

  // Takes the next bytes of the answer and tells where it stands. Bytes after the end (or the
  // cut) are ignored.
  State Take(QByteArrayView bytes);
  State CurrentState() const { return state_; }

  // The Set-Cookie values of the header blocks read to their end since the last call, in the
  // order they came; a block that was cut gives none.
  std::vector<QByteArray> TakeSetCookies();

  // The status code of the final answer; 0 until its status line has been read, or when it
  // has none.
  int Status() const { return final_ ? status_ : 0; }
  // Header bytes taken so far, all blocks together.
  qsizetype HeadBytes() const { return head_bytes_; }
  // Body bytes taken so far.
  qint64 BodyBytes() const { return body_bytes_; }

 private:
  void EndLine();
  void EndBlock();
  void TakeBody(qint64 n);

  qsizetype max_head_;
  qint64 max_body_;
  State state_ = State::kReading;

  // The header block being read.
  QByteArray line_;        // the line so far, without its end
  bool in_block_ = false;  // its status line has been read
  int status_ = 0;         // its status code
  qint64 length_ = -1;     // its Content-Length; -1 when there is none
  std::vector<QByteArray> block_cookies_;

  bool final_ = false;  // the final answer's header block has ended: the body follows
  qsizetype head_bytes_ = 0;
  qint64 body_bytes_ = 0;
  std::vector<QByteArray> cookies_;  // of the blocks already ended
};

}  // namespace qelta
