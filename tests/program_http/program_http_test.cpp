// The real monitor's status report to a recording HTTP server on 127.0.0.1:80, against the
// simulated UPS. The test process moves into a network namespace of its own first (when the
// system allows it), so port 80 is its own and nothing can leave the machine.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "program_harness.h"
#include "recording_server.h"

namespace qelta::testing {
namespace {

using namespace std::chrono_literals;

// The monitor may run under the sanitizers: bounds are generous, they only keep a broken
// monitor from hanging the test.
constexpr auto kBound = 45s;

constexpr char kUrl[] = "127.0.0.1/catch_from_ups?some=param";

VirtualDisplay* display = nullptr;

class NetworkAndDisplay : public ::testing::Environment {
 public:
  void SetUp() override {
    std::string why;
    if (!EnterPrivateNetwork(&why)) {
      std::fprintf(stderr, "no private network namespace (%s); using the machine's loopback\n",
                   why.c_str());
    }
    display = new VirtualDisplay();
  }
  void TearDown() override {
    delete display;
    display = nullptr;
  }
};

const auto* const registered = ::testing::AddGlobalTestEnvironment(new NetworkAndDisplay);

class ProgramHttpTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(display != nullptr && display->ok()) << "no Xvfb"; }

  // Starts the recording server on 127.0.0.1:80, or skips the test when that port cannot be had.
  void StartServer(RecordingServer::Mode mode) {
    std::string why;
    if (!server.Start(mode, 80, &why)) {
      GTEST_SKIP() << "the report goes to port 80 and the test cannot listen there: " << why;
    }
  }

  // The simulated UPS with the given readings, answering at once; returns its terminal.
  std::string Simulator(const std::vector<std::string>& options = {}) {
    std::vector<std::string> all{"--pace=instant"};
    all.insert(all.end(), options.begin(), options.end());
    const std::string device = StartSimulator(simulator, all);
    EXPECT_FALSE(device.empty());
    return device;
  }

  // Polls every second; reports on, every `post_interval` seconds, to `url`. The battery
  // policy stays off: no test comes near a shutdown.
  void Seed(const std::string& device, int post_interval, bool perform = true,
            const std::string& url = kUrl) {
    sandbox.SeedSettings(device, 1,
                         std::string("[POST]\nPerform=") + (perform ? "1" : "0") +
                             "\nInterval=" + std::to_string(post_interval) + "\nURL=" + url +
                             "\n[Sense]\nBattery=0\nBatteryPercent=0\n");
  }

  // Replaces `from` by `to` in the settings file, as one rename: a monitor reading it at that
  // moment sees the old file or the new one.
  void EditSettings(const std::string& from, const std::string& to) {
    std::ifstream in(sandbox.SettingsPath());
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t at = text.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    text.replace(at, from.size(), to);
    const std::string temporary = sandbox.SettingsPath() + ".new";
    std::ofstream(temporary, std::ios::trunc) << text;
    std::filesystem::rename(temporary, sandbox.SettingsPath());
  }

  void StartMonitor(ChildProcess& monitor) {
    ASSERT_TRUE(monitor.Start(sandbox.MonitorCommand(), sandbox.Environment(display->name()),
                              sandbox.dir()));
  }

  void Tell(const std::string& command) {
    simulator.WriteLine(command);
    ASSERT_EQ(simulator.ReadLine(10s), "ok") << command;
  }

  size_t Records() const { return sandbox.ReadStats().size(); }

  HttpRequest Request(size_t index) const {
    const auto connections = server.Connections();
    return index < connections.size() ? ParseHttpRequest(connections[index].bytes) : HttpRequest{};
  }

  // Waits for a complete request at `from` or later whose body satisfies `match`; its index,
  // or -1 when none came within `timeout`.
  int WaitForRequest(size_t from, const std::function<bool(const std::string&)>& match,
                     std::chrono::milliseconds timeout = kBound) {
    int found = -1;
    WaitFor(
        [&] {
          const auto connections = server.Connections();
          for (size_t i = from; i < connections.size(); ++i) {
            const HttpRequest request = ParseHttpRequest(connections[i].bytes);
            if (request.complete && match(request.body)) {
              found = static_cast<int>(i);
              return true;
            }
          }
          return false;
        },
        timeout);
    return found;
  }
  int WaitForAnyRequest(size_t from) {
    return WaitForRequest(from, [](const std::string&) { return true; });
  }

  // The six readings of a report body.
  static std::vector<std::string> Readings(const std::string& body) {
    std::vector<std::string> values;
    for (const char* name :
         {"IP_voltage", "OP_voltage", "OP_current", "OP_frequency", "battery_voltage", "temp"}) {
      values.push_back(FormValue(body, name));
    }
    return values;
  }

  static std::function<bool(const std::string&)> FieldIs(const std::string& name,
                                                         const std::string& value) {
    return [name, value](const std::string& body) { return FormValue(body, name) == value; };
  }

  MonitorSandbox sandbox;
  ChildProcess simulator;
  RecordingServer server;
};

TEST_F(ProgramHttpTest, ReportsCarryTheRequestOfTheFormAndWhatTheUpsSent) {
  StartServer(RecordingServer::Mode::kAnswer);
  if (IsSkipped()) return;
  Seed(Simulator({"--input=198.4", "--load=42", "--temp=31.5", "--battv=12.80"}), 2);
  ChildProcess monitor;
  StartMonitor(monitor);
  ASSERT_TRUE(WaitFor([&] { return Request(2).complete; }, kBound)) << server.Count();

  const std::string expected_body =
      "IP_voltage=198%2E4V&OP_voltage=220%2E1V&OP_current=42%25&OP_frequency=50%2E1Hz&"
      "battery_voltage=94%25&temp=31%2E5%B0C&status_using_battery=0&status_battery_low=0&"
      "status_avr=1&status_ups_failed=0&status_ups_is_line_interactive=1&status_testing=0&"
      "status_shutdown=0&status_beeper=1&";
  const std::vector<std::string> headers{
      "Connection: keep-alive",
      "Content-Type: application/x-www-form-urlencoded",
      "Content-Length: " + std::to_string(expected_body.size()),
      "Host: 127.0.0.1",
      "Accept: text/html, */*",
      "User-Agent: Mozilla/3.0 (compatible; Indy Library)",
  };
  const auto connections = server.Connections();
  for (size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE("report " + std::to_string(i));
    const HttpRequest request = ParseHttpRequest(connections[i].bytes);
    EXPECT_EQ(request.request_line, "POST /catch_from_ups?some=param HTTP/1.0");
    // The first report knows no cookie yet; the later ones send back what the server set.
    std::vector<std::string> expected_headers = headers;
    if (i > 0) expected_headers.push_back(std::string("Cookie: ") + RecordingServer::kCookie);
    EXPECT_EQ(request.headers, expected_headers);
    // Nothing after the body: exactly Content-Length bytes.
    EXPECT_EQ(request.body, expected_body);
    EXPECT_TRUE(connections[i].answered);
  }
  // Each report waits out the interval: two ticks of a second (less the timers' slack).
  for (size_t i = 1; i < 3; ++i) {
    EXPECT_GE(connections[i].accepted - connections[i - 1].accepted, 1500ms) << i;
  }
  EXPECT_TRUE(monitor.Running());
}

TEST_F(ProgramHttpTest, AnAddressWithSchemeAndPortIsReportedTo) {
  // As a user types it: with "http://" and a port. Before, all of "http:" was taken as the
  // host name and nothing ever went out.
  std::string why;
  if (!server.Start(RecordingServer::Mode::kAnswer, 18080, &why)) {
    GTEST_SKIP() << "cannot listen on 127.0.0.1:18080: " << why;
  }
  Seed(Simulator(), 3600, true, "http://127.0.0.1:18080/ups?x=1");
  ChildProcess monitor;
  StartMonitor(monitor);
  ASSERT_EQ(WaitForAnyRequest(0), 0);
  const HttpRequest first = Request(0);
  EXPECT_EQ(first.request_line, "POST /ups?x=1 HTTP/1.0");
  EXPECT_NE(std::find(first.headers.begin(), first.headers.end(), "Host: 127.0.0.1:18080"),
            first.headers.end());
  // On battery the UPS reads 000.0 V at the input: reported as the pop-up shows it, 0.0V.
  Tell("battery");
  ASSERT_EQ(WaitForAnyRequest(1), 1);
  EXPECT_EQ(FormValue(Request(1).body, "IP_voltage"), "0%2E0V");
  EXPECT_TRUE(monitor.Running());
}

TEST_F(ProgramHttpTest, ChangesOfLinkAndPowerReportAtOnce) {
  StartServer(RecordingServer::Mode::kAnswer);
  if (IsSkipped()) return;
  // An interval that is never reached in the test: every report is a prompt one.
  Seed(Simulator(), 3600);
  ChildProcess monitor;
  StartMonitor(monitor);

  // The link comes up with the first poll, and the report follows it.
  ASSERT_EQ(WaitForAnyRequest(0), 0);
  EXPECT_GE(Records(), 1u);
  EXPECT_EQ(Readings(Request(0).body),
            (std::vector<std::string>{"218%2E5V", "220%2E1V", "23%25", "50%2E1Hz", "99%25",
                                      "27%2E0%B0C"}));
  EXPECT_EQ(FormValue(Request(0).body, "status_using_battery"), "0");

  // Polls of an unchanged UPS report nothing.
  const size_t polled = Records();
  ASSERT_TRUE(WaitFor([&] { return Records() >= polled + 3; }, kBound));
  std::this_thread::sleep_for(1500ms);
  EXPECT_EQ(server.Count(), 1u);

  Tell("battery");
  const int on_battery = WaitForAnyRequest(1);
  ASSERT_EQ(on_battery, 1);
  EXPECT_EQ(FormValue(Request(1).body, "status_using_battery"), "1");
  EXPECT_EQ(FormValue(Request(1).body, "OP_frequency"), "50%2E0Hz");

  Tell("mains");
  ASSERT_EQ(WaitForAnyRequest(2), 2);
  EXPECT_EQ(FormValue(Request(2).body, "status_using_battery"), "0");

  // Losing the link reports nothing by itself ...
  Tell("silent");
  std::this_thread::sleep_for(5s);
  EXPECT_EQ(server.Count(), 3u);
  // ... getting it back does, with the readings of the poll that found the UPS again.
  Tell("input 226.3");
  Tell("normal");
  ASSERT_EQ(WaitForAnyRequest(3), 3);
  EXPECT_EQ(FormValue(Request(3).body, "IP_voltage"), "226%2E3V");
  EXPECT_TRUE(monitor.Running());
}

TEST_F(ProgramHttpTest, ReportingSwitchedOnLaterSendsTheReportThatWaited) {
  StartServer(RecordingServer::Mode::kAnswer);
  if (IsSkipped()) return;
  Seed(Simulator(), 3600, /*perform=*/false);
  ChildProcess monitor;
  StartMonitor(monitor);
  // The link came up long ago, but reporting is off: nothing goes out.
  ASSERT_TRUE(WaitFor([&] { return Records() >= 3; }, kBound));
  std::this_thread::sleep_for(1500ms);
  EXPECT_EQ(server.Count(), 0u);
  // Switched on, with no interval ever reached: the link-up report that waited goes out now.
  EditSettings("Perform=0", "Perform=1");
  ASSERT_EQ(WaitForAnyRequest(0), 0);
  EXPECT_EQ(FormValue(Request(0).body, "IP_voltage"), "218%2E5V");
  // Only that one: nothing has changed since.
  const size_t polled = Records();
  ASSERT_TRUE(WaitFor([&] { return Records() >= polled + 3; }, kBound));
  EXPECT_EQ(server.Count(), 1u);
  EXPECT_TRUE(monitor.Running());
}

TEST_F(ProgramHttpTest, ServerThatNeverAnswersIsGivenUpWhilePollingGoesOn) {
  StartServer(RecordingServer::Mode::kHold);
  if (IsSkipped()) return;
  Seed(Simulator(), 3600);
  ChildProcess monitor;
  StartMonitor(monitor);
  ASSERT_EQ(WaitForAnyRequest(0), 0);
  const size_t polled = Records();

  // A change while the report hangs: it is reported once the hanging exchange is given up.
  Tell("battery");
  size_t polled_while_hanging = polled;
  ASSERT_TRUE(WaitFor(
      [&] {
        const size_t records = Records();
        if (server.Count() >= 2) return true;
        polled_while_hanging = records;
        return false;
      },
      kBound + 10s));
  // The second connection can only open after the first was given up, so these polls ran
  // while it hung.
  EXPECT_GE(polled_while_hanging, polled + 4);

  const auto connections = server.Connections();
  // The exchange is bounded at 10 s; the next report comes a tick after that.
  EXPECT_GE(connections[1].accepted - connections[0].accepted, 9s);
  EXPECT_TRUE(WaitFor([&] { return server.Connections()[0].closed_by_client; }, 10s));
  ASSERT_EQ(WaitForAnyRequest(1), 1);
  EXPECT_EQ(FormValue(Request(1).body, "status_using_battery"), "1");
  EXPECT_TRUE(monitor.Running());
}

TEST_F(ProgramHttpTest, FloodOfInterimAnswersIsCutWhilePollingGoesOn) {
  StartServer(RecordingServer::Mode::kFlood);
  if (IsSkipped()) return;
  Seed(Simulator(), 3600);
  ChildProcess monitor;
  StartMonitor(monitor);
  ASSERT_EQ(WaitForAnyRequest(0), 0);

  // The monitor stops listening on its own: the bound on the answer ends the exchange, not
  // its 10 s time-out.
  ASSERT_TRUE(WaitFor([&] { return server.Connections()[0].closed_by_client; }, kBound));
  const auto first = server.Connections()[0];
  EXPECT_LT(first.closed - first.accepted, 9s);
  std::fprintf(stderr, "interim answers sent before the monitor closed: %zu bytes in %lld ms\n",
               first.flooded,
               static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          first.closed - first.accepted)
                                          .count()));

  // The monitor goes on polling and reports the next change, flooded again.
  const size_t polled = Records();
  Tell("battery");
  ASSERT_GE(WaitForRequest(1, FieldIs("status_using_battery", "1")), 1);
  EXPECT_TRUE(WaitFor([&] { return Records() >= polled + 3; }, kBound));
  EXPECT_TRUE(WaitFor([&] { return server.Connections()[1].closed_by_client; }, kBound));
  EXPECT_TRUE(monitor.Running());
}

TEST_F(ProgramHttpTest, LostLinkIsReportedAsDashesWithTheLastFlags) {
  StartServer(RecordingServer::Mode::kAnswer);
  if (IsSkipped()) return;
  Seed(Simulator(), 2);
  ChildProcess monitor;
  StartMonitor(monitor);
  ASSERT_GE(WaitForAnyRequest(0), 0);
  Tell("battery");
  const int on_battery = WaitForRequest(0, FieldIs("status_using_battery", "1"));
  ASSERT_GE(on_battery, 0);

  Tell("silent");
  const int lost = WaitForRequest(on_battery + 1, FieldIs("IP_voltage", "%2D"));
  ASSERT_GE(lost, 0);
  const std::string body = Request(lost).body;
  EXPECT_EQ(Readings(body), std::vector<std::string>(6, "%2D"));
  // The flags are those of the last poll that had an answer.
  EXPECT_EQ(FormValue(body, "status_using_battery"), "1");
  EXPECT_EQ(FormValue(body, "status_ups_is_line_interactive"), "1");
  EXPECT_EQ(FormValue(body, "status_beeper"), "1");
  EXPECT_EQ(FormFields(body).size(), 14u);

  Tell("mains");
  Tell("normal");
  const int back = WaitForRequest(lost + 1, FieldIs("IP_voltage", "218%2E5V"));
  ASSERT_GE(back, 0);
  EXPECT_EQ(FormValue(Request(back).body, "status_using_battery"), "0");
  EXPECT_TRUE(monitor.Running());
}

TEST_F(ProgramHttpTest, UnreachableServerIsTriedAgainAtTheNextReport) {
  Seed(Simulator(), 2);
  ChildProcess monitor;
  StartMonitor(monitor);
  // Reports fall on a closed port for a while ...
  ASSERT_TRUE(WaitFor([&] { return Records() >= 5; }, kBound));
  // ... and reach the server once it is there.
  StartServer(RecordingServer::Mode::kAnswer);
  if (IsSkipped()) return;
  ASSERT_EQ(WaitForAnyRequest(0), 0);
  EXPECT_EQ(Request(0).request_line, "POST /catch_from_ups?some=param HTTP/1.0");
  EXPECT_TRUE(monitor.Running());
}

}  // namespace
}  // namespace qelta::testing
