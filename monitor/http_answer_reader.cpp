#include "monitor/http_answer_reader.h"

#include <QList>
#include <cstring>
#include <utility>

namespace qelta {

HttpAnswerReader::HttpAnswerReader(qsizetype max_head, qint64 max_body)
    : max_head_(max_head), max_body_(max_body) {}

HttpAnswerReader::State HttpAnswerReader::Take(QByteArrayView bytes) {
  const char* at = bytes.data();
  qsizetype left = bytes.size();
  while (left > 0 && state_ == State::kReading) {
    if (final_) {
      TakeBody(left);
      break;
    }
    const auto* line_end =
        static_cast<const char*>(std::memchr(at, '\n', static_cast<size_t>(left)));
    const qsizetype take = line_end != nullptr ? line_end - at + 1 : left;
    if (take > max_head_ - head_bytes_) {
      state_ = State::kCut;
      break;
    }
    head_bytes_ += take;
    line_.append(at, line_end != nullptr ? take - 1 : take);
    at += take;
    left -= take;
    if (line_end != nullptr) EndLine();
  }
  return state_;
}

std::vector<QByteArray> HttpAnswerReader::TakeSetCookies() {
  return std::exchange(cookies_, {});
}

void HttpAnswerReader::EndLine() {
  if (line_.endsWith('\r')) line_.chop(1);
  const QByteArray line = std::exchange(line_, {});
  if (!in_block_) {
    // Blank lines before a status line are skipped (they count against the bound all the same).
    if (line.isEmpty()) return;
    in_block_ = true;
    status_ = 0;
    length_ = -1;
    if (line.startsWith("HTTP/")) {
      const QList<QByteArray> words = line.simplified().split(' ');
      if (words.size() >= 2) status_ = words[1].toInt();
    }
    return;
  }
  if (line.isEmpty()) {
    EndBlock();
    return;
  }
  const qsizetype colon = line.indexOf(':');
  if (colon <= 0) return;
  const QByteArray name = line.left(colon).trimmed().toLower();
  if (name == "content-length") {
    bool ok = false;
    const qint64 n = line.mid(colon + 1).trimmed().toLongLong(&ok);
    length_ = ok && n >= 0 ? n : -1;
  } else if (name == "set-cookie") {
    block_cookies_.push_back(line.mid(colon + 1).trimmed());
  }
}

void HttpAnswerReader::EndBlock() {
  in_block_ = false;
  for (QByteArray& cookie : block_cookies_) cookies_.push_back(std::move(cookie));
  block_cookies_.clear();
  // An interim answer (1xx) is followed by the real one.
  if (status_ >= 100 && status_ < 200) return;
  final_ = true;
  if (status_ == 204 || status_ == 304 || length_ == 0) state_ = State::kComplete;
}

void HttpAnswerReader::TakeBody(qint64 n) {
  if (length_ >= 0 && n >= length_ - body_bytes_) {
    body_bytes_ = length_;
    state_ = State::kComplete;
    return;
  }
  body_bytes_ += n;
  if (body_bytes_ > max_body_) state_ = State::kCut;
}

}  // namespace qelta
