// The reduction of a day's records to 864 columns.
#include <gtest/gtest.h>

#include <string>

#include "stats/day_columns.h"

namespace qelta {
namespace {

constexpr uint32_t kDay = 1704067200 + 182 * 86400;  // 2024-07-01 00:00:00

TUPSStatusRaw Sample(uint32_t second_of_day, const char* input, const char* output,
                     bool battery = false) {
  TUPSStatusRaw r;
  r.time = kDay + second_of_day;
  r.IP_voltage = DecimalToExtended(input);
  r.OP_voltage = DecimalToExtended(output);
  r.status_using_battery = battery;
  return r;
}

DayColumns Reduce(const TUPSStatusRawData& records) {
  DayColumns c;
  ReduceDay(records, kDay, c);
  return c;
}

// The columns that hold anything.
std::vector<int> Occupied(const DayColumns& c) {
  std::vector<int> out;
  for (int j = 0; j < kDayColumns; ++j) {
    if (c.BinState[j] != kBinEmpty || c.InputBins[j] != 0 || c.OutputBins[j] != 0) {
      out.push_back(j);
    }
  }
  return out;
}

TEST(DayColumns, SecondsBelongToTheColumnOfTheirHundred) {
  // 43,299 = 100 * 432 + 99 ends column 432; 43,300 starts column 433.
  DayColumns c = Reduce({Sample(43299, "230", "220")});
  EXPECT_EQ(Occupied(c), std::vector<int>{432});
  c = Reduce({Sample(43300, "230", "220")});
  EXPECT_EQ(Occupied(c), std::vector<int>{433});
  // The first and the last second of the day, and the seconds just outside it.
  TUPSStatusRaw before = Sample(0, "230", "220"), after = Sample(86399, "230", "220");
  before.time -= 1;
  after.time += 1;
  c = Reduce({Sample(0, "230", "220"), Sample(86399, "230", "220"), before, after});
  EXPECT_EQ(Occupied(c), (std::vector<int>{0, 863}));
}

TEST(DayColumns, VoltagesAreClippedTo160And275) {
  DayColumns c = Reduce({Sample(100, "300", "275"), Sample(200, "150", "160.4")});
  EXPECT_EQ(c.InputBins[1], 115);
  EXPECT_EQ(c.OutputBins[1], 115);
  EXPECT_EQ(c.BinState[2], kBinMains);  // a mains column, but without a value
  EXPECT_EQ(c.InputBins[2], 0);
  EXPECT_NEAR(c.OutputBins[2], 0.4, 1e-9);
  EXPECT_EQ(c.InputMax, 275);
  EXPECT_EQ(c.InputMin, 275);  // the column at 150 V does not count
  EXPECT_EQ(c.OutputMax, 275);
  EXPECT_NEAR(c.OutputMin, 160.4, 1e-9);
}

TEST(DayColumns, EachSampleWeighsAsMuchAsTheEarlierOnesAndExtremesFollowTheRunningValue) {
  // 12:00:00 at 230 V and 12:00:50 at 220 V: (70 + 60) / 2 = 65, i.e. 225 V. The maximum is
  // the first running value, 230, although the finished column is 225.
  DayColumns c = Reduce({Sample(43200, "230", "221"), Sample(43250, "220", "219")});
  EXPECT_EQ(Occupied(c), std::vector<int>{432});
  EXPECT_EQ(c.InputBins[432], 65);
  EXPECT_EQ(c.InputMax, 230);
  EXPECT_EQ(c.InputMin, 225);
  EXPECT_EQ(c.OutputBins[432], 60);
  EXPECT_EQ(c.OutputMax, 221);
  EXPECT_EQ(c.OutputMin, 220);

  // Three samples: ((60 + 80) / 2 + 40) / 2 = 55; a sample below 160 V halves the value.
  c = Reduce({Sample(1000, "220", "220"), Sample(1001, "240", "240"), Sample(1002, "200", "200"),
              Sample(1003, "100", "220")});
  EXPECT_EQ(c.InputBins[10], 27.5);
  EXPECT_EQ(c.InputMax, 230);
  EXPECT_EQ(c.InputMin, 187.5);
  // Samples are taken in time order within the column, not in file order.
  c = Reduce({Sample(1002, "200", "200"), Sample(1001, "240", "240"), Sample(1000, "220", "220")});
  EXPECT_EQ(c.InputBins[10], 55);
}

TEST(DayColumns, BatterySecondsMarkTheColumnAndNeverEnterTheExtremes) {
  DayColumns c = Reduce({Sample(5000, "0", "220", true)});
  EXPECT_EQ(c.BinState[50], kBinBattery);
  EXPECT_EQ(c.InputBins[50], 130);
  EXPECT_EQ(c.OutputBins[50], 0);
  // A battery second alone touches no extreme.
  EXPECT_EQ(c.InputMax, 0);
  EXPECT_EQ(c.InputMin, 0);
  EXPECT_EQ(c.OutputMax, 0);

  // One battery second, then mains seconds at 218.5 V in the same column: the column stays a
  // battery column and its drawn input value goes on from 130, but the day's
  // extremes are the measured 218.5 V, not the 254.3 V of a value averaged from 130.
  TUPSStatusRawData records = {Sample(5000, "0", "0", true)};
  for (uint32_t s = 5001; s < 5010; ++s) records.push_back(Sample(s, "218.5", "219.5"));
  c = Reduce(records);
  EXPECT_EQ(c.BinState[50], kBinBattery);
  EXPECT_GT(c.InputBins[50], 58.5);  // drawn as before, averaged from 130
  EXPECT_EQ(c.InputMax, 218.5);
  EXPECT_EQ(c.InputMin, 218.5);
  EXPECT_EQ(c.OutputMax, 219.5);
  EXPECT_EQ(c.OutputMin, 219.5);

  // Mains on both sides of a battery second: the extremes follow the mains seconds only,
  // (70 + 60) / 2 = 65 after the second one, as in a column without the battery second.
  c = Reduce(
      {Sample(5000, "230", "230"), Sample(5010, "0", "220", true), Sample(5020, "220", "220")});
  EXPECT_EQ(c.BinState[50], kBinBattery);
  EXPECT_EQ(c.InputBins[50], 95);  // (130 + 60) / 2, drawn as before
  EXPECT_EQ(c.InputMax, 230);
  EXPECT_EQ(c.InputMin, 225);
}

TEST(DayColumns, OnTheDayTheClockGoesBackTheLaterRecordOfASecondWins) {
  // 02:00 to 03:00 recorded twice: first at 230 V, then, after the clock was put back, at
  // 210 V (and on battery for one column). The hour after it follows on.
  TUPSStatusRawData records;
  for (uint32_t s = 7200; s < 10800; s += 10) records.push_back(Sample(s, "230", "220"));
  for (uint32_t s = 7200; s < 10800; s += 10) {
    records.push_back(Sample(s, "210", "220", s >= 9000 && s < 9100));
  }
  for (uint32_t s = 10800; s < 14400; s += 10) records.push_back(Sample(s, "240", "220"));
  const DayColumns c = Reduce(records);
  for (int j = 72; j < 108; ++j) {
    if (j == 90) {
      EXPECT_EQ(c.BinState[j], kBinBattery);
      continue;
    }
    EXPECT_EQ(c.BinState[j], kBinMains) << j;
    EXPECT_EQ(c.InputBins[j], 50) << j;
  }
  EXPECT_EQ(c.InputBins[108], 80);
  EXPECT_EQ(c.InputMin, 210);
  EXPECT_EQ(c.InputMax, 240);
}

TEST(DayColumns, ARefreshEmptiesColumnsThatHeldDataBefore) {
  DayColumns c;
  ReduceDay({Sample(1000, "230", "220"), Sample(2000, "0", "0", true)}, kDay, c);
  ASSERT_EQ(Occupied(c), (std::vector<int>{10, 20}));
  // Another day in the same columns object: none of the old columns or extremes survive.
  TUPSStatusRaw other = Sample(50000, "200", "210");
  other.time += 86400;
  ReduceDay({other}, kDay + 86400, c);
  EXPECT_EQ(Occupied(c), std::vector<int>{500});
  EXPECT_EQ(c.InputMax, 200);
  EXPECT_EQ(c.OutputMin, 210);
  ReduceDay({}, kDay, c);
  EXPECT_TRUE(Occupied(c).empty());
  EXPECT_EQ(c.InputMax, 0);
  EXPECT_EQ(c.InputMin, 0);
  EXPECT_EQ(c.OutputMax, 0);
  EXPECT_EQ(c.OutputMin, 0);
}

}  // namespace
}  // namespace qelta
