// Day stamps, the "###.#" form and the caption's hover readout.
#include <gtest/gtest.h>

#include "stats/hover_readout.h"
#include "stats/voltage_text.h"

namespace qelta {
namespace {

const QString kSaved = QStringLiteral("QELTA MONITOR: Статистика");
constexpr int kLeft = 26;

TEST(DayStamp, CountsLocalWallClockSecondsWithoutAdjustment) {
  EXPECT_EQ(DayStartOf(QDate(1970, 1, 1)), 0u);
  EXPECT_EQ(DayStartOf(QDate(2024, 1, 1)), 1704067200u);
  // A day on which clocks change in many zones still starts a whole number of days on.
  EXPECT_EQ(DayStartOf(QDate(2024, 3, 31)), 1704067200u + 90 * 86400);
  EXPECT_EQ(DayStartOf(QDate(2024, 4, 1)), 1704067200u + 91 * 86400);
  // The last day whose every second has a stamp, and the clamping beyond it.
  EXPECT_EQ(LastStampedDate(), QDate(2106, 2, 6));
  const uint64_t last_end = uint64_t{DayStartOf(LastStampedDate())} + 86399;
  EXPECT_LE(last_end, UINT32_MAX);
  EXPECT_GT(last_end + 86400, UINT32_MAX);
  EXPECT_EQ(DayStartOf(QDate(2200, 1, 1)), DayStartOf(LastStampedDate()));
  EXPECT_EQ(DayStartOf(QDate(1960, 1, 1)), 0u);
}

TEST(VoltageText, AtMostOneDecimalWithoutAZeroFraction) {
  const QString dot = QStringLiteral(".");
  EXPECT_EQ(FormatOneDecimal(230, dot), "230");
  EXPECT_EQ(FormatOneDecimal(221.5, dot), "221.5");
  EXPECT_EQ(FormatOneDecimal(221.5, QStringLiteral(",")), "221,5");
  EXPECT_EQ(FormatOneDecimal(229.96, dot), "230");
  EXPECT_EQ(FormatOneDecimal(229.94, dot), "229.9");
  EXPECT_EQ(FormatOneDecimal(999.95, dot), "1000");
  // Halves go up on the decimal digits, as the value reads, whatever its binary form
  // (225.05 is stored as 225.0499999...).
  EXPECT_EQ(FormatOneDecimal(225.05, dot), "225.1");
  EXPECT_EQ(FormatOneDecimal(160 + (70 + 60.1) / 2, dot), "225.1");
  EXPECT_EQ(FormatOneDecimal(187.5, dot), "187.5");
  EXPECT_EQ(FormatOneDecimal(0.5, dot), "0.5");  // a digit before the separator
  EXPECT_EQ(FormatOneDecimal(-0.25, dot), "-0.3");
  EXPECT_EQ(FormatOneDecimal(-12.25, dot), "-12.3");
}

class HoverCaptionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    columns.BinState[432] = kBinMains;
    columns.InputBins[432] = 65;
    columns.OutputBins[432] = 61.5;
    columns.BinState[0] = kBinMains;
    columns.InputBins[0] = 70;
    columns.BinState[863] = kBinMains;
    columns.InputBins[863] = 60;
    columns.BinState[500] = kBinBattery;
    columns.InputBins[500] = 95;
    columns.OutputBins[500] = 70;
    columns.BinState[600] = kBinMains;  // a mains column whose samples were all below 160 V
  }
  QString At(int column, int mode = 0, const QLocale& locale = QLocale::c()) {
    return HoverCaption(kSaved, kLeft + 1 + column, kLeft, columns, mode, day, locale);
  }

  DayColumns columns;
  const uint32_t day = DayStartOf(QDate(2024, 7, 1));
};

TEST_F(HoverCaptionTest, ShowsTheColumnStartAndTheSelectedSeriesValue) {
  EXPECT_EQ(At(432), kSaved + " [12:00:00 225V]");
  EXPECT_EQ(At(432, 1), kSaved + " [12:00:00 221.5V]");
  EXPECT_EQ(At(0), kSaved + " [0:00:00 230V]");
  EXPECT_EQ(At(863), kSaved + " [23:58:20 220V]");
  EXPECT_EQ(At(1), kSaved);  // empty column
  EXPECT_EQ(At(600), kSaved);
  EXPECT_EQ(At(863, 1), kSaved);  // no output value there
  // The pointer on the axis or left of it, and right of the last column.
  EXPECT_EQ(At(-1), kSaved);
  EXPECT_EQ(At(-20), kSaved);
  EXPECT_EQ(At(864), kSaved);
  EXPECT_EQ(At(2000), kSaved);
}

TEST_F(HoverCaptionTest, BatteryColumnsSayBatteryInBothSeries) {
  const QString battery = kSaved + QStringLiteral(" [13:53:20 питание от батареи]");
  EXPECT_EQ(At(500), battery);
  EXPECT_EQ(At(500, 1), battery);
}

TEST_F(HoverCaptionTest, UsesTheLocaleSeparators) {
  const QLocale german(QLocale::German, QLocale::Germany);
  EXPECT_EQ(At(432, 1, german), kSaved + " [12:00:00 221,5V]");
  const QLocale finnish(QLocale::Finnish, QLocale::Finland);
  ASSERT_EQ(TimeSeparator(finnish), ".");
  EXPECT_EQ(At(432, 1, finnish), kSaved + " [12.00.00 221,5V]");
  EXPECT_EQ(TimeSeparator(QLocale(QLocale::Russian, QLocale::Russia)), ":");
  EXPECT_EQ(TimeOfDayText(day + 3600 * 9 + 60 * 5 + 7, QLocale::c()), "9:05:07");
}

}  // namespace
}  // namespace qelta
