#include <gtest/gtest.h>

#include "link/modems.h"

namespace qelta {
namespace {

// The eight flags as "0"/"1" characters, first flag first.
std::string FlagText(const TUPSStatus& s) {
  std::string text;
  for (bool b :
       {s.status_using_battery, s.status_battery_low, s.status_avr, s.status_ups_failed,
        s.status_ups_is_line_interactive, s.status_testing, s.status_shutdown, s.status_beeper}) {
    text += b ? '1' : '0';
  }
  return text;
}

void ExpectFlags(const TUPSStatus& s, const std::string& expected) {
  EXPECT_EQ(FlagText(s), expected);
}

TEST(ParseStatusReply, FullReply) {
  const TUPSStatus s = ParseStatusReply("(218.5 217.0 220.1 023 50.1 13.50 27.0 10100101");
  EXPECT_EQ(s.IP_voltage, "218.5");
  EXPECT_EQ(s.IP_fault_voltage, "217.0");
  EXPECT_EQ(s.OP_voltage, "220.1");
  EXPECT_EQ(s.OP_current, "023");
  EXPECT_EQ(s.OP_frequency, "50.1");
  EXPECT_EQ(s.battery_voltage, "13.50");
  EXPECT_EQ(s.temp, "27.0");
  ExpectFlags(s, "10100101");
}

TEST(ParseStatusReply, MissingWordsAreEmptyAndTheirFlagsFalse) {
  const TUPSStatus s = ParseStatusReply("(218.5 217.0");
  EXPECT_EQ(s.IP_voltage, "218.5");
  EXPECT_EQ(s.IP_fault_voltage, "217.0");
  EXPECT_EQ(s.OP_voltage, "");
  EXPECT_EQ(s.temp, "");
  ExpectFlags(s, "00000000");
  EXPECT_EQ(ParseStatusReply("("), TUPSStatus{});
}

TEST(ParseStatusReply, RunsOfSpacesAndLeadingSpacesSeparateOnce) {
  const TUPSStatus s =
      ParseStatusReply("(   218.5  217.0 220.1     023 50.1 13.50 27.0  11111111   ");
  EXPECT_EQ(s.IP_voltage, "218.5");
  EXPECT_EQ(s.IP_fault_voltage, "217.0");
  EXPECT_EQ(s.OP_current, "023");
  EXPECT_EQ(s.temp, "27.0");
  ExpectFlags(s, "11111111");
}

TEST(ParseStatusReply, OnlyTheFirstEightCharactersOfWordEightCount) {
  ExpectFlags(ParseStatusReply("(1 2 3 4 5 6 7 0001"), "00010000");
  ExpectFlags(ParseStatusReply("(1 2 3 4 5 6 7 00001001111111"), "00001001");
  // Anything but the digit 1 is false.
  ExpectFlags(ParseStatusReply("(1 2 3 4 5 6 7 1x1Y1 1"), "10101000");
  // Words after the eighth are ignored.
  ExpectFlags(ParseStatusReply("(1 2 3 4 5 6 7 00000001 11111111"), "00000001");
}

TEST(ParseStatusReply, UsbReplyWithCrLfKeepsTheCrOnWordEight) {
  const TUPSStatus s = ParseStatusReply("(218.5 217.0 220.1 023 50.1 13.50 27.0 00001001\r\n");
  EXPECT_EQ(s.temp, "27.0");
  ExpectFlags(s, "00001001");
  // A single line end is removed entirely.
  EXPECT_EQ(ParseStatusReply("(218.5 217.0 220.1 023 50.1 13.50 27.0\r").temp, "27.0");
  EXPECT_EQ(ParseStatusReply("(218.5 217.0 220.1 023 50.1 13.50 27.0\n").temp, "27.0");
}

}  // namespace
}  // namespace qelta
