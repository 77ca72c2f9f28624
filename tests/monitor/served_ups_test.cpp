// The UPS as the network server serves it from the monitor: a client's beeper command goes
// through the menu's path, and a store that cannot keep the preference is answered as a failed
// command rather than thrown through the socket handler.
#include <gtest/gtest.h>

#include "monitor/network_bridge.h"
#include "monitor_fixture.h"
#include "network/protocol_server.h"

namespace qelta::testing {
namespace {

class ServedUpsTest : public MonitorFixture {
 protected:
  ServedUpsTest()
      : served(*core, link, [this](const std::string& message) { reported.push_back(message); }),
        server(served, [] {
          ServedConfig config;
          config.users = {{"admin", "pw", false, true}};
          return config;
        }) {
    StartAndPoll();
    EXPECT_TRUE(server.Open(1, "127.0.0.1", 0));
    EXPECT_EQ(server.Receive(1, "USERNAME admin\nPASSWORD pw\n", 0).bytes, "OK\nOK\n");
  }
  std::string Send(const std::string& line) { return server.Receive(1, line + "\n", 0).bytes; }

  MonitorServedUps served;
  ProtocolServer server;
  std::vector<std::string> reported;
};

TEST_F(ServedUpsTest, BeeperCommandStoresThePreferenceOrAnswersFailedWhenTheStoreCannot) {
  ASSERT_TRUE(core->LastStatus().status_beeper);
  EXPECT_EQ(Send("INSTCMD qelta beeper.disable"), "OK\n");
  EXPECT_FALSE(link.status.status_beeper);
  EXPECT_FALSE(settings.ReadBool("Settings", "Beeper", true));
  EXPECT_TRUE(reported.empty());

  // The settings file cannot be written (a service's, read-only to it).
  settings.failing_write_key = "Beeper";
  std::string answer;
  ASSERT_NO_THROW(answer = Send("INSTCMD qelta beeper.enable"));
  EXPECT_EQ(answer, "ERR INSTCMD-FAILED\n");
  ASSERT_EQ(reported.size(), 1u);
  EXPECT_EQ(reported[0], "cannot write Beeper");
  EXPECT_FALSE(settings.ReadBool("Settings", "Beeper", true));
  // The session goes on serving.
  EXPECT_EQ(Send("GET VAR qelta ups.beeper.status"), "VAR qelta ups.beeper.status \"enabled\"\n");
}

}  // namespace
}  // namespace qelta::testing
