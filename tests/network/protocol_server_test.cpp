// The UPS network protocol's line handling, sessions and limits, without sockets.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "link/modems.h"
#include "network/protocol_server.h"
#include "network/request_line.h"
#include "network/served_variables.h"

namespace qelta {
namespace {

class FakeUps : public ServedUps {
 public:
  bool link_ok = true;
  TUPSStatus status = ParseStatusReply("(230.5 140.0 229.8 025 49.9 13.60 25.0 00001001\r");
  std::vector<std::string> commands;
  bool command_result = true;

  bool LinkOK() override { return link_ok; }
  const TUPSStatus& LastStatus() override { return status; }
  uint32_t LastPollTime() override { return 1765212434; }  // 2025-12-08 16:47:14
  bool RunInstantCommand(const std::string& name) override {
    commands.push_back(name);
    return command_result;
  }
};

ServedConfig Config() {
  ServedConfig config;
  config.ups_name = "qelta";
  config.description = "Rack \"A\"";
  config.users = {{"mon", "s3cret", true, false},
                  {"admin", "adminpw", false, true},
                  {"nopass", "", true, true}};
  return config;
}

class ProtocolServerTest : public ::testing::Test {
 protected:
  ProtocolServerTest() : server_(ups_, [] { return Config(); }) {}

  // Opens connection `id` if needed and returns the answer to `lines`.
  std::string Ask(int id, const std::string& lines, int64_t now = 0) {
    if (opened_.insert(id).second) {
      EXPECT_TRUE(server_.Open(id, "127.0.0." + std::to_string(id), now));
    }
    last_ = server_.Receive(id, lines, now);
    return last_.bytes;
  }

  FakeUps ups_;
  ProtocolServer server_;
  ProtocolServer::Answer last_;
  std::set<int> opened_;
};

TEST(RequestLineTest, QuotesAndEscapesSplitAsTheProtocolWritesThem) {
  using Args = std::vector<std::string>;
  EXPECT_EQ(SplitRequestLine("GET VAR qelta ups.status\r"),
            (Args{"GET", "VAR", "qelta", "ups.status"}));
  EXPECT_EQ(SplitRequestLine("  PASSWORD   \"a b\\\"c\\\\\"  "), (Args{"PASSWORD", "a b\"c\\"}));
  EXPECT_EQ(SplitRequestLine("SET VAR u v \"\""), (Args{"SET", "VAR", "u", "v", ""}));
  EXPECT_EQ(SplitRequestLine("a\tb"), (Args{"a", "b"}));
  EXPECT_EQ(SplitRequestLine(""), Args{});
  EXPECT_FALSE(SplitRequestLine("USERNAME \"open"));
  EXPECT_FALSE(SplitRequestLine("USERNAME end\\"));

  EXPECT_EQ(QuotedValue("Rack \"A\" \\ 1"), "\"Rack \\\"A\\\" \\\\ 1\"");
  // A line break in a value would forge a second answer line.
  EXPECT_EQ(QuotedValue("x\nERR y\r"), "\"x ERR y \"");
  EXPECT_TRUE(SecretsEqual("abc", "abc"));
  EXPECT_FALSE(SecretsEqual("abc", "abd"));
  EXPECT_FALSE(SecretsEqual("abc", "abcd"));
  EXPECT_FALSE(SecretsEqual("", "x"));
}

TEST(ServedVariablesTest, ReadingsInTheProtocolsNumberFormatAndStatusWords) {
  const TUPSStatus mains = ParseStatusReply("(230.5 140.0 229.8 025 049.9 13.60 25.0 00001001\r");
  std::map<std::string, std::string> vars;
  for (const ServedVariable& v : ServedVariables(mains, 1765212434, false)) vars[v.name] = v.value;
  EXPECT_EQ(vars["input.voltage"], "230.5");
  EXPECT_EQ(vars["input.voltage.fault"], "140.0");
  EXPECT_EQ(vars["output.voltage"], "229.8");
  EXPECT_EQ(vars["ups.load"], "25");
  EXPECT_EQ(vars["input.frequency"], "49.9");
  EXPECT_EQ(vars["battery.voltage"], "13.60");
  EXPECT_EQ(vars["battery.charge"], "100");
  EXPECT_EQ(vars["ups.temperature"], "25.0");
  EXPECT_EQ(vars["ups.status"], "OL");
  EXPECT_EQ(vars["ups.beeper.status"], "enabled");
  EXPECT_EQ(vars["ups.type"], "offline / line interactive");
  EXPECT_EQ(vars["device.type"], "ups");
  EXPECT_EQ(vars["driver.lastpoll"], "2025-12-08 16:47:14");

  // Numbers never carry a comma or an exponent; a reading that is not a number is left out.
  EXPECT_EQ(ProtocolNumber("1e3"), "");
  EXPECT_EQ(ProtocolNumber("230,5"), "");
  EXPECT_EQ(ProtocolNumber("-05.0"), "-5.0");
  EXPECT_EQ(ProtocolNumber("-0.0"), "0.0");
  EXPECT_EQ(ProtocolNumber("12.34567"), "12.346");
  const TUPSStatus odd = ParseStatusReply("(230,5 140.0 229.8 025 49.9 8.16 nan 00001000\r");
  std::map<std::string, std::string> odd_vars;
  for (const ServedVariable& v : ServedVariables(odd, 0, false)) odd_vars[v.name] = v.value;
  EXPECT_FALSE(odd_vars.contains("input.voltage"));
  EXPECT_FALSE(odd_vars.contains("ups.temperature"));
  EXPECT_EQ(odd_vars["battery.charge"],
            "59");  // the pop-up's estimate: 8.16 / 13.6 truncates to 59
  EXPECT_EQ(odd_vars["ups.beeper.status"], "disabled");

  auto words = [](const char* reply, bool fsd) {
    return StatusWords(ParseStatusReply(reply), fsd);
  };
  EXPECT_EQ(words("(190.0 0 230.0 10 50 12 25 11101000\r", false), "OB LB BOOST");
  EXPECT_EQ(words("(250.0 0 230.0 10 50 12 25 00101000\r", false), "OL TRIM");
  EXPECT_EQ(words("(230.0 0 230.0 10 50 12 25 00100000\r", false), "OL BYPASS");
  EXPECT_EQ(words("(230.0 0 230.0 10 50 12 25 10010100\r", true), "OB CAL ALARM FSD");
}

TEST_F(ProtocolServerTest, ReadCommandsAnswerInTheProtocolsFrames) {
  EXPECT_EQ(Ask(1, "GET VAR qelta ups.load\n"), "VAR qelta ups.load \"25\"\n");
  EXPECT_EQ(Ask(1, "LIST UPS\n"), "BEGIN LIST UPS\nUPS qelta \"Rack \\\"A\\\"\"\nEND LIST UPS\n");
  const std::string list = Ask(1, "LIST VAR qelta\n");
  EXPECT_TRUE(list.starts_with("BEGIN LIST VAR qelta\nVAR qelta battery.charge \"100\"\n")) << list;
  EXPECT_TRUE(
      list.ends_with("VAR qelta ups.type \"offline / line interactive\"\nEND LIST VAR qelta\n"));
  EXPECT_NE(list.find("VAR qelta ups.status \"OL\"\n"), std::string::npos);
  EXPECT_EQ(Ask(1, "LIST CMD qelta\n"),
            "BEGIN LIST CMD qelta\nCMD qelta beeper.disable\nCMD qelta beeper.enable\n"
            "CMD qelta beeper.toggle\nCMD qelta test.battery.start.quick\nEND LIST CMD qelta\n");
  EXPECT_EQ(Ask(1, "LIST RW qelta\n"), "BEGIN LIST RW qelta\nEND LIST RW qelta\n");
  EXPECT_EQ(Ask(1, "GET TYPE qelta ups.load\nGET TYPE qelta ups.status\n"),
            "TYPE qelta ups.load NUMBER\nTYPE qelta ups.status STRING:64\n");
  EXPECT_EQ(Ask(1, "NETVER\n"), "1.3\n");
  EXPECT_EQ(Ask(1, "GET VAR other ups.load\n"), "ERR UNKNOWN-UPS\n");
  EXPECT_EQ(Ask(1, "GET VAR qelta ups.nothing\n"), "ERR VAR-NOT-SUPPORTED\n");
  EXPECT_EQ(Ask(1, "GET VAR qelta\n"), "ERR INVALID-ARGUMENT\n");
  EXPECT_EQ(Ask(1, "FROB\n"), "ERR UNKNOWN-COMMAND\n");
  EXPECT_EQ(Ask(1, "STARTTLS\n"), "ERR FEATURE-NOT-CONFIGURED\n");
  EXPECT_EQ(Ask(1, "PRIMARY qelta\nMASTER qelta\nFSD qelta\n"),
            "ERR ACCESS-DENIED\nERR ACCESS-DENIED\nERR ACCESS-DENIED\n");
  EXPECT_EQ(Ask(1, "SET VAR qelta ups.load \"5\"\n"), "ERR READONLY\n");
  // A request split over two reads, ended by CR LF, and an empty line in between.
  EXPECT_EQ(Ask(1, "GET VAR qel"), "");
  EXPECT_EQ(Ask(1, "ta input.voltage\r\n\n"), "VAR qelta input.voltage \"230.5\"\n");

  // While the link is lost data requests answer DATA-STALE; the rest still works.
  ups_.link_ok = false;
  EXPECT_EQ(Ask(1, "GET VAR qelta ups.status\n"), "ERR DATA-STALE\n");
  EXPECT_EQ(Ask(1, "LIST VAR qelta\n"), "ERR DATA-STALE\n");
  EXPECT_EQ(Ask(1, "GET NUMLOGINS qelta\n"), "NUMLOGINS qelta 0\n");
  // Once FSD is set a client learns it even without a link.
  server_.SetForcedShutdown(true);
  EXPECT_EQ(Ask(1, "GET VAR qelta ups.status\n"), "VAR qelta ups.status \"FSD\"\n");
  ups_.link_ok = true;
  EXPECT_EQ(Ask(1, "GET VAR qelta ups.status\n"), "VAR qelta ups.status \"OL FSD\"\n");
}

TEST_F(ProtocolServerTest, LoginAndInstantCommandsOnlyWithAMatchingUserAndRight) {
  EXPECT_EQ(Ask(1, "LOGIN qelta\n"), "ERR USERNAME-REQUIRED\n");
  EXPECT_EQ(Ask(1, "USERNAME mon\nUSERNAME mon\n"), "OK\nERR ALREADY-SET-USERNAME\n");
  EXPECT_EQ(Ask(1, "LOGIN qelta\n"), "ERR PASSWORD-REQUIRED\n");
  EXPECT_EQ(Ask(1, "PASSWORD s3cre\nLOGIN qelta\n"), "OK\nERR ACCESS-DENIED\n");
  EXPECT_EQ(Ask(1, "PASSWORD s3cret\n"), "ERR ALREADY-SET-PASSWORD\n");
  EXPECT_EQ(Ask(1, "GET NUMLOGINS qelta\n"), "NUMLOGINS qelta 0\n");

  EXPECT_EQ(Ask(2, "USERNAME mon\nPASSWORD s3cret\nLOGIN other\nLOGIN qelta\nLOGIN qelta\n"),
            "OK\nOK\nERR UNKNOWN-UPS\nOK\nERR ALREADY-LOGGED-IN\n");
  // A secondary may not run commands; a user without a password never gets in.
  EXPECT_EQ(Ask(2, "INSTCMD qelta beeper.toggle\n"), "ERR ACCESS-DENIED\n");
  EXPECT_EQ(Ask(3, "USERNAME nopass\nPASSWORD \"\"\nLOGIN qelta\nINSTCMD qelta beeper.toggle\n"),
            "OK\nOK\nERR ACCESS-DENIED\nERR ACCESS-DENIED\n");
  EXPECT_EQ(Ask(4, "USERNAME admin\nPASSWORD adminpw\nLOGIN qelta\n"),
            "OK\nOK\nERR ACCESS-DENIED\n");
  EXPECT_EQ(Ask(4, "INSTCMD qelta beeper.enable\nINSTCMD qelta shutdown.return\n"),
            "OK\nERR CMD-NOT-SUPPORTED\n");
  ups_.command_result = false;
  EXPECT_EQ(Ask(4, "INSTCMD qelta test.battery.start.quick\n"), "ERR INSTCMD-FAILED\n");
  EXPECT_EQ(ups_.commands, (std::vector<std::string>{"beeper.enable", "test.battery.start.quick"}));

  EXPECT_EQ(Ask(1, "GET NUMLOGINS qelta\nLIST CLIENT qelta\n"),
            "NUMLOGINS qelta 1\nBEGIN LIST CLIENT qelta\nCLIENT qelta 127.0.0.2\nEND LIST CLIENT "
            "qelta\n");
  EXPECT_EQ(server_.LoginCount(), 1);
  EXPECT_EQ(Ask(2, "LOGOUT\nGET VAR qelta ups.load\n"), "OK Goodbye\n");
  EXPECT_TRUE(last_.close);
  server_.Closed(2);
  EXPECT_EQ(server_.LoginCount(), 0);
}

TEST_F(ProtocolServerTest, HostileClientsMeetTheLimits) {
  // A line over 512 bytes closes the connection, also when it comes in pieces without a LF.
  Ask(1, std::string(300, 'x'));
  EXPECT_FALSE(last_.close);
  Ask(1, std::string(213, 'x'));
  EXPECT_TRUE(last_.close);
  EXPECT_EQ(last_.bytes, "ERR TOO-LONG\n");
  EXPECT_FALSE(Ask(2, std::string(512, 'y') + "\n").empty());
  EXPECT_FALSE(last_.close);  // exactly 512 is still a line

  // At most 32 connections; the 33rd is refused until one goes.
  ProtocolServer server(ups_, [] { return Config(); });
  for (int id = 0; id < 32; ++id) ASSERT_TRUE(server.Open(id, "127.0.0.1", 0));
  EXPECT_FALSE(server.Open(32, "127.0.0.1", 0));
  server.Closed(5);
  EXPECT_TRUE(server.Open(33, "127.0.0.1", 0));

  // Connections that stay silent for the idle limit are named; one that spoke is not.
  server.Receive(7, "VER\n", 100000);
  EXPECT_EQ(server.NextIdleCheck(), 120000);
  const std::vector<int> idle = server.IdleConnections(120000);
  EXPECT_EQ(idle.size(), 31u);
  EXPECT_EQ(std::count(idle.begin(), idle.end(), 7), 0);
  EXPECT_EQ(server.IdleConnections(220000).size(), 32u);
}

}  // namespace
}  // namespace qelta
