#include "monitor/post_report.h"

#include <gtest/gtest.h>

#include "qt_print.h"

#include <iterator>
#include <memory>
#include <vector>

#include "platform/manual_clock.h"
#include "settings/memory_settings.h"
#include "settings/report_address.h"

namespace qelta {
namespace {

// Records every POST; ends each exchange at once or when the test says so.
class FakePoster : public HttpPoster {
 public:
  struct Call {
    QString host;
    quint16 port;
    QByteArray path;
    QByteArray body;
    std::function<void()> done;
  };

  void Post(const QString& host, quint16 port, const QByteArray& path, const QByteArray& body,
            std::function<void()> done) override {
    calls.push_back({host, port, path, body, std::move(done)});
    if (end_at_once) calls.back().done();
  }

  std::vector<Call> calls;
  bool end_at_once = true;
};

class PostReportTest : public ::testing::Test {
 protected:
  PostReportTest() {
    timer->SetHandler([this] { report.PostTimerTimer(); });
    settings.WriteBool("POST", "Perform", true);
    settings.WriteString("POST", "URL", "ups.example/catch_from_ups?some=param");
  }

  ReportFields Fields() {
    ++fields_taken;
    return MakeReportFields(ip_voltage, QStringLiteral("220.0V"), QStringLiteral("15%"),
                            QStringLiteral("50.0Hz"), QStringLiteral("100%"),
                            QStringLiteral("25.0°C"), TUPSStatus{});
  }

  void Seconds(int n) { clock.Advance(int64_t{n} * 1000); }

  ManualClock clock;
  MemorySettings settings;
  FakePoster poster;
  std::unique_ptr<Timer> timer = clock.CreateTimer(1000, true);
  QString ip_voltage = QStringLiteral("230.0V");
  int fields_taken = 0;
  PostReport report{settings, *timer, poster, [this] { return Fields(); }};
};

TEST_F(PostReportTest, PeriodicReportEveryIntervalTicks) {
  settings.WriteInteger("POST", "Interval", 60);
  Seconds(59);
  EXPECT_TRUE(poster.calls.empty());
  EXPECT_EQ(report.PostCounter, 59);
  Seconds(1);
  ASSERT_EQ(poster.calls.size(), 1u);
  EXPECT_EQ(report.PostCounter, 0);
  Seconds(59);
  EXPECT_EQ(poster.calls.size(), 1u);
  Seconds(1);
  EXPECT_EQ(poster.calls.size(), 2u);
  Seconds(600);
  EXPECT_EQ(poster.calls.size(), 12u);
  EXPECT_EQ(fields_taken, 12);

  const FakePoster::Call& call = poster.calls.front();
  EXPECT_EQ(call.host, QStringLiteral("ups.example"));
  EXPECT_EQ(call.port, 80);
  EXPECT_EQ(call.path, "/catch_from_ups?some=param");
  EXPECT_EQ(call.body, EncodeReportBody(Fields()));
}

TEST_F(PostReportTest, FieldsAreTakenAtTheMomentOfEachReport) {
  settings.WriteInteger("POST", "Interval", 2);
  Seconds(2);
  ip_voltage = QStringLiteral("-");
  Seconds(1);
  EXPECT_EQ(fields_taken, 1);  // ticks that send nothing take no fields
  Seconds(1);
  ASSERT_EQ(poster.calls.size(), 2u);
  EXPECT_TRUE(poster.calls[0].body.startsWith("IP_voltage=230%2E0V&"));
  EXPECT_TRUE(poster.calls[1].body.startsWith("IP_voltage=%2D&"));
}

TEST_F(PostReportTest, PromptReportAtNextTickRestartsTheCount) {
  settings.WriteInteger("POST", "Interval", 60);
  Seconds(20);
  report.PostNow = true;
  Seconds(1);
  ASSERT_EQ(poster.calls.size(), 1u);
  EXPECT_FALSE(report.PostNow);
  EXPECT_EQ(report.PostCounter, 0);
  Seconds(59);
  EXPECT_EQ(poster.calls.size(), 1u);
  Seconds(1);
  EXPECT_EQ(poster.calls.size(), 2u);
}

TEST_F(PostReportTest, NothingHappensWhileReportingIsOffAndPostNowWaits) {
  settings.WriteInteger("POST", "Interval", 5);
  settings.WriteBool("POST", "Perform", false);
  report.PostNow = true;
  report.PostCounter = 3;
  Seconds(30);
  EXPECT_TRUE(poster.calls.empty());
  EXPECT_TRUE(report.PostNow);
  EXPECT_EQ(report.PostCounter, 3);

  settings.WriteBool("POST", "Perform", true);
  Seconds(1);
  EXPECT_EQ(poster.calls.size(), 1u);
  EXPECT_FALSE(report.PostNow);

  // Missing key reads as off.
  settings.DeleteValue("POST", "Perform");
  Seconds(30);
  EXPECT_EQ(poster.calls.size(), 1u);
}

TEST_F(PostReportTest, WithoutIntervalOnlyPromptReportsAreSent) {
  Seconds(1000);
  EXPECT_TRUE(poster.calls.empty());
  EXPECT_EQ(report.PostCounter, 1000);
  report.PostNow = true;
  Seconds(1);
  EXPECT_EQ(poster.calls.size(), 1u);

  settings.WriteInteger("POST", "Interval", 0);
  Seconds(100);
  EXPECT_EQ(poster.calls.size(), 1u);
}

TEST_F(PostReportTest, IntervalLoweredBelowTheCountReportsAtTheNextTick) {
  settings.WriteInteger("POST", "Interval", 60);
  Seconds(30);
  EXPECT_TRUE(poster.calls.empty());
  settings.WriteInteger("POST", "Interval", 10);  // by hand, without resetting the count
  Seconds(1);
  ASSERT_EQ(poster.calls.size(), 1u);
  EXPECT_EQ(report.PostCounter, 0);
  Seconds(10);
  EXPECT_EQ(poster.calls.size(), 2u);

  // A count carried far beyond the interval by another writer.
  report.PostCounter = 500;
  Seconds(1);
  EXPECT_EQ(poster.calls.size(), 3u);

  // Switched off by an interval of 0 while the count is high: still only prompt reports.
  report.PostCounter = 50;
  settings.WriteInteger("POST", "Interval", 0);
  Seconds(20);
  EXPECT_EQ(poster.calls.size(), 3u);
  settings.WriteInteger("POST", "Interval", -5);
  Seconds(20);
  EXPECT_EQ(poster.calls.size(), 3u);
}

TEST_F(PostReportTest, UnusableUrlSendsNothingButResetsTheTrigger) {
  settings.WriteInteger("POST", "Interval", 3);
  settings.WriteString("POST", "URL", "ups.example:port/x");
  Seconds(3);
  EXPECT_EQ(report.PostCounter, 0);
  report.PostNow = true;
  Seconds(1);
  EXPECT_FALSE(report.PostNow);
  EXPECT_EQ(report.PostCounter, 0);
  EXPECT_TRUE(poster.calls.empty());
  EXPECT_EQ(fields_taken, 0);
  EXPECT_TRUE(timer->Enabled());
  EXPECT_FALSE(report.Busy());

  settings.DeleteValue("POST", "URL");  // the default is empty: no report either
  Seconds(6);
  EXPECT_TRUE(poster.calls.empty());
}

TEST_F(PostReportTest, PostTimerIsOffDuringTheExchange) {
  poster.end_at_once = false;
  settings.WriteInteger("POST", "Interval", 5);
  Seconds(5);
  ASSERT_EQ(poster.calls.size(), 1u);
  EXPECT_FALSE(timer->Enabled());
  EXPECT_TRUE(report.Busy());

  // A slow server: no tick counts and no second report meanwhile, even a prompt one.
  report.PostNow = true;
  Seconds(30);
  EXPECT_EQ(poster.calls.size(), 1u);
  EXPECT_EQ(report.PostCounter, 0);
  // A tick delivered anyway waits for the running exchange.
  report.PostTimerTimer();
  EXPECT_EQ(poster.calls.size(), 1u);
  EXPECT_TRUE(report.PostNow);

  poster.calls[0].done();
  EXPECT_TRUE(timer->Enabled());
  EXPECT_FALSE(report.Busy());
  // The prompt request waits for the first tick, a second after the exchange ended.
  clock.Advance(999);
  EXPECT_EQ(poster.calls.size(), 1u);
  clock.Advance(1);
  ASSERT_EQ(poster.calls.size(), 2u);

  // A second end of an exchange already over changes nothing.
  poster.calls[0].done();
  EXPECT_FALSE(timer->Enabled());
  poster.calls[1].done();
  Seconds(5);
  EXPECT_EQ(poster.calls.size(), 3u);
}

TEST_F(PostReportTest, AddressWithSchemeOrPortIsUnderstoodAndUnusableOnesSendNothing) {
  // A plain "host/path" goes out exactly as written, to port 80; "http://" in front (in any
  // case) and a port after the host are understood rather than taken into the host name.
  const struct {
    const char* url;
    const char* host;
    quint16 port;
    const char* path;
  } usable[] = {
      {"ups.example/catch?some=param", "ups.example", 80, "/catch?some=param"},
      {"http://127.0.0.2/ups?x=1", "127.0.0.2", 80, "/ups?x=1"},
      {"HTTP://ups.example:8080/x", "ups.example", 8080, "/x"},
      {"ups.example:8080/x", "ups.example", 8080, "/x"},
      {"  http://[::1]:81/a  ", "::1", 81, "/a"},
      {"http://ups.example", "ups.example", 80, "/"},
      {"ups.example?x=1", "ups.example", 80, "/?x=1"},
  };
  for (const auto& u : usable) {
    report.PostNow = true;
    settings.WriteString("POST", "URL", u.url);
    Seconds(1);
    ASSERT_FALSE(poster.calls.empty()) << u.url;
    EXPECT_EQ(poster.calls.back().host, QString::fromUtf8(u.host)) << u.url;
    EXPECT_EQ(poster.calls.back().port, u.port) << u.url;
    EXPECT_EQ(poster.calls.back().path, u.path) << u.url;
    EXPECT_TRUE(ReadReportAddress(QString::fromUtf8(u.url)).Usable()) << u.url;
  }
  poster.calls.clear();

  // Each refused address has its reason for the dialog and sends nothing.
  for (const char* url : {"https://ups.example/x", "ftp://ups.example/x", "/only/path",
                          "ups.example:0/x", "ups.example:65536/x", "ups.example:80a/x",
                          "user@ups.example/x", "bad host/x", "[::1/x", "", "   "}) {
    report.PostNow = true;
    settings.WriteString("POST", "URL", url);
    Seconds(1);
    EXPECT_TRUE(poster.calls.empty()) << url;
    EXPECT_FALSE(ReadReportAddress(QString::fromUtf8(url)).problem.isEmpty()) << url;
  }
  EXPECT_TRUE(ReadReportAddress(QStringLiteral("https://h/x")).problem.contains(u"https://"));
  EXPECT_TRUE(timer->Enabled());
  EXPECT_EQ(fields_taken, static_cast<int>(std::size(usable)));

  report.PostNow = true;
  settings.WriteString("POST", "URL", "h/" + std::string(300, 'a'));
  Seconds(1);
  ASSERT_EQ(poster.calls.size(), 1u);
  EXPECT_EQ(poster.calls[0].path, "/" + QByteArray(254, 'a'));

  // Characters are counted, not bytes or UTF-16 units: a four-byte character in the 255th
  // place stays whole.
  report.PostNow = true;
  settings.WriteString("POST", "URL", "h/" + std::string(253, 'a') + "\xF0\x9F\x98\x80" + "bcd");
  Seconds(1);
  ASSERT_EQ(poster.calls.size(), 2u);
  EXPECT_EQ(poster.calls[1].path, "/" + QByteArray(253, 'a') + "%3F");
}

TEST_F(PostReportTest, RequestTargetStaysOneWord) {
  report.PostNow = true;
  settings.WriteString("POST", "URL", "h/a b/Склад?x=1&y=%41\r\nX: 1");
  Seconds(1);
  ASSERT_EQ(poster.calls.size(), 1u);
  EXPECT_EQ(poster.calls[0].path, "/a%20b/%D1%EA%EB%E0%E4?x=1&y=%41%0D%0AX:%201");
}

TEST_F(PostReportTest, ExchangeEndingAfterTheReportIsGoneIsHarmless) {
  poster.end_at_once = false;
  auto own_timer = clock.CreateTimer(1000, true);
  auto gone =
      std::make_unique<PostReport>(settings, *own_timer, poster, [this] { return Fields(); });
  gone->PostNow = true;
  gone->PostTimerTimer();
  ASSERT_EQ(poster.calls.size(), 1u);
  EXPECT_FALSE(own_timer->Enabled());
  gone.reset();
  poster.calls[0].done();
  EXPECT_FALSE(own_timer->Enabled());
}

}  // namespace
}  // namespace qelta
