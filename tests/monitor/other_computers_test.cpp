// The power-off waits for the other computers on the UPS: FSD first, then the logged-in
// clients' logout or the wait limit, on the manual clock.
#include <gtest/gtest.h>

#include "monitor_fixture.h"
#include "network/protocol_server.h"
#include "network/secondary_shutdown.h"

namespace qelta::testing {
namespace {

class PollServedUps : public ServedUps {
 public:
  explicit PollServedUps(MonitorCore*& core) : core_(core) {}
  bool LinkOK() override { return core_->LinkOK(); }
  const TUPSStatus& LastStatus() override { return core_->LastStatus(); }
  uint32_t LastPollTime() override { return 0; }
  bool RunInstantCommand(const std::string&) override { return false; }

 private:
  MonitorCore*& core_;
};

class OtherComputersTest : public MonitorFixture {
 protected:
  OtherComputersTest()
      : core_ptr(core.get()),
        served(core_ptr),
        server(served,
               [] {
                 ServedConfig config;
                 config.users = {{"mon", "pw", true, false}};
                 return config;
               }),
        others(server, clock, [] { return 15000; }) {
    core->SetOtherComputers(&others);
    StartAndPoll();  // on mains
  }
  void LogIn(int id) {
    ASSERT_TRUE(server.Open(id, "127.0.0.1", 0));
    ASSERT_EQ(server.Receive(id, "USERNAME mon\nPASSWORD pw\nLOGIN qelta\n", 0).bytes,
              "OK\nOK\nOK\n");
  }
  std::string Status(int id) { return server.Receive(id, "GET VAR qelta ups.status\n", 0).bytes; }
  // On battery, then the 15 s limit and the 60 s countdown run out.
  void RunToTheEndOfTheCountdown() {
    link.OnBattery();
    Poll();
    clock.Advance(15000 + 60000);
  }

  MonitorCore* core_ptr;
  PollServedUps served;
  ProtocolServer server;
  SecondaryShutdown others;
};

TEST_F(OtherComputersTest, PowerOffWaitsUntilEveryLoggedInClientHasGone) {
  LogIn(1);
  LogIn(2);
  RunToTheEndOfTheCountdown();
  EXPECT_TRUE(power.calls.empty());
  EXPECT_EQ(Status(1), "VAR qelta ups.status \"OB FSD\"\n");
  EXPECT_EQ(core->OtherComputersLeft(), 2);
  ASSERT_FALSE(balloons.shown.empty());
  EXPECT_EQ(balloons.shown.back().text,
            QString::fromUtf8("Завершение работы других компьютеров... Осталось: 2"));
  server.Closed(1);
  clock.Advance(1000);
  EXPECT_TRUE(power.calls.empty());
  EXPECT_EQ(core->OtherComputersLeft(), 1);
  server.Closed(2);
  clock.Advance(200);
  EXPECT_EQ(power.calls, (std::vector<std::string>{"privilege", "poweroff"}));
  EXPECT_EQ(balloons.shown.back().text,
            QString::fromUtf8("Сейчас произойдет форсированное завершение работы системы."));
  EXPECT_EQ(core->OtherComputersLeft(), -1);
  // Mains after the power-off was asked for: the others stay told.
  link.OnMains();
  Poll();
  EXPECT_TRUE(server.ForcedShutdown());
}

TEST_F(OtherComputersTest, AClientThatStaysHoldsThePowerOffOnlyForTheWait) {
  LogIn(1);
  RunToTheEndOfTheCountdown();
  clock.Advance(14999);
  EXPECT_TRUE(power.calls.empty());
  clock.Advance(1);
  EXPECT_EQ(power.calls, (std::vector<std::string>{"privilege", "poweroff"}));
  clock.Advance(600000);
  EXPECT_EQ(power.calls.size(), 2u);  // once
}

TEST_F(OtherComputersTest, NoClientLoggedInPowersOffAtOnceWithFsdSet) {
  ASSERT_TRUE(server.Open(1, "127.0.0.1", 0));  // a dashboard: reads, never logs in
  RunToTheEndOfTheCountdown();
  EXPECT_EQ(power.calls, (std::vector<std::string>{"privilege", "poweroff"}));
  EXPECT_EQ(Status(1), "VAR qelta ups.status \"OB FSD\"\n");
}

TEST_F(OtherComputersTest, MainsBackDuringTheWaitClearsFsdWithABalloonAndNeverPowersOff) {
  LogIn(1);
  RunToTheEndOfTheCountdown();
  link.OnMains();
  Poll();
  EXPECT_FALSE(server.ForcedShutdown());
  EXPECT_EQ(Status(1), "VAR qelta ups.status \"OL\"\n");
  EXPECT_EQ(balloons.shown.back().text,
            QString::fromUtf8("Питание от сети восстановлено: сигнал завершения работы другим "
                              "компьютерам (FSD) снят."));
  EXPECT_EQ(core->OtherComputersLeft(), -1);
  server.Closed(1);
  clock.Advance(60000);
  EXPECT_TRUE(power.calls.empty());
}

}  // namespace
}  // namespace qelta::testing
