#include "monitor/post_report.h"

#include <utility>

#include "settings/report_address.h"

namespace qelta {

PostReport::PostReport(Settings& settings, Timer& post_timer, HttpPoster& poster,
                       std::function<ReportFields()> fields)
    : settings_(settings),
      post_timer_(post_timer),
      poster_(poster),
      fields_(std::move(fields)),
      self_(std::make_shared<PostReport*>(this)) {}

PostReport::~PostReport() {
  *self_ = nullptr;
}

void PostReport::PostTimerTimer() {
  // One report at a time: PostTimer is off during an exchange, and a tick that comes anyway
  // (someone enabled the timer) waits for the running one.
  if (busy_) return;
  if (!settings_.ReadBool("POST", "Perform", false)) return;

  // Counting on past the largest value wraps instead of overflowing.
  PostCounter = static_cast<int32_t>(static_cast<uint32_t>(PostCounter) + 1u);
  // A count that has passed the interval (lowered while counting) reports at once instead of
  // never; an interval of 0 or below leaves only the prompt reports.
  const int32_t interval = settings_.ReadInteger("POST", "Interval", -1);
  const bool period_over = interval > 0 && PostCounter >= interval;
  if (!(period_over || PostNow)) return;
  PostNow = false;
  PostCounter = 0;

  const ReportAddressCheck target =
      ReadReportAddress(QString::fromStdString(settings_.ReadString("POST", "URL", "")));
  if (!target.Usable()) return;
  const ReportAddress& address = target.address;

  post_timer_.SetEnabled(false);
  QByteArray body;
  try {
    body = EncodeReportBody(fields_());
  } catch (...) {
    post_timer_.SetEnabled(true);
    throw;
  }

  busy_ = true;
  const uint64_t exchange = ++exchange_;
  std::weak_ptr<PostReport*> weak = self_;
  poster_.Post(address.host, address.port, EncodeRequestPath(address.path), body, [weak, exchange] {
    if (auto self = weak.lock(); self && *self != nullptr) (*self)->ExchangeEnded(exchange);
  });
}

void PostReport::ExchangeEnded(uint64_t exchange) {
  // Only the end of the running exchange counts, and only once.
  if (!busy_ || exchange != exchange_) return;
  busy_ = false;
  post_timer_.SetEnabled(true);
}

QByteArray EncodeRequestPath(const QString& path) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  QByteArray out;
  for (qsizetype i = 0; i < path.size(); ++i) {
    qsizetype n = 1;
    if (path[i].isHighSurrogate() && i + 1 < path.size() && path[i + 1].isLowSurrogate()) n = 2;
    const QStringView character = QStringView(path).mid(i, n);
    i += n - 1;
    const QByteArray bytes = ToWindows1251(character);
    // A character without a Windows-1251 form must not turn into a query's "?".
    if (bytes == "?" && character != u"?") {
      out.append("%3F");
      continue;
    }
    for (char c : bytes) {
      const auto b = static_cast<unsigned char>(c);
      if (b <= 0x20 || b >= 0x7F) {
        out.append('%');
        out.append(kHex[b >> 4]);
        out.append(kHex[b & 0x0F]);
      } else {
        out.append(c);
      }
    }
  }
  return out;
}

}  // namespace qelta
