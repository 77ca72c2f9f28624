#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>

#include "monitor/http_poster.h"
#include "monitor/report_fields.h"
#include "platform/timer.h"
#include "settings/settings.h"

namespace qelta {

// The status report to an HTTP server, driven by the main window's PostTimer (one tick a
// second): periodically when the count of ticks has reached `POST`/`Interval` (so lowering the
// interval below a running count reports at the next tick; 0 or below: no periodic reports),
// and at the first tick after PostNow was set, while `POST`/`Perform` is on. PostTimer is disabled
// while an exchange runs and enabled again when it has ended, so its next tick comes a second after
// the exchange.
// The address is read by ReadReportAddress; one that cannot be used sends nothing (the
// configuration dialog says why).
class PostReport {
 public:
  // `fields` gives the report fields at the moment of a report.
  PostReport(Settings& settings, Timer& post_timer, HttpPoster& poster,
             std::function<ReportFields()> fields);
  ~PostReport();

  PostReport(const PostReport&) = delete;
  PostReport& operator=(const PostReport&) = delete;

  // The tick handler of PostTimer.
  void PostTimerTimer();

  // True while an exchange started here has not ended.
  bool Busy() const { return busy_; }

  // Ticks counted since the last report; the configuration dialog sets it to 0.
  int32_t PostCounter = 0;
  // Report at the next tick (set by the poll on a change of link or power source).
  bool PostNow = false;

 private:
  void ExchangeEnded(uint64_t exchange);

  Settings& settings_;
  Timer& post_timer_;
  HttpPoster& poster_;
  std::function<ReportFields()> fields_;
  bool busy_ = false;
  uint64_t exchange_ = 0;  // number of the latest exchange
  // Lets an exchange that ends after this object is gone find that out.
  std::shared_ptr<PostReport*> self_;
};

// The request target's bytes: the path's Windows-1251 form, with blanks, control characters
// and bytes above 0x7F written as "%" and two upper-case hexadecimal digits, so that the
// request line stays one line of three words. A character without a Windows-1251 form goes
// out as "%3F", never as a "?" that would start a query.
QByteArray EncodeRequestPath(const QString& path);

}  // namespace qelta
