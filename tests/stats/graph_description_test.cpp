// The graph's description for a screen reader: the day, the series, its extremes and the
// battery periods as times.
#include <gtest/gtest.h>

#include "stats/graph_description.h"

namespace qelta {
namespace {

const QString kInput = QStringLiteral("График напряжения в электросети");
const QString kOutput = QStringLiteral("График напряжения на выходе UPS");

TEST(GraphDescription, TellsTheDaySeriesExtremesAndBatteryPeriods) {
  DayColumns columns;
  columns.BinState[0] = kBinMains;
  for (int j = 360; j < 370; ++j) columns.BinState[j] = kBinBattery;  // 10:00:00 to 10:16:40
  columns.BinState[370] = kBinMains;
  columns.BinState[500] = kBinBattery;  // one column: 13:53:20 to 13:55:00
  columns.BinState[863] = kBinBattery;  // the day's last column ends at midnight
  columns.InputMax = 230;
  columns.InputMin = 225;
  columns.OutputMax = 221.5;
  columns.OutputMin = 219;
  const QLocale russian(QLocale::Russian, QLocale::Russia);
  const QDate date(2024, 3, 5);
  const QString day = russian.toString(date, QLocale::LongFormat) + QStringLiteral(". ");
  const QString periods = QStringLiteral(
      "Питание от батареи: 10:00:00 - 10:16:40, 13:53:20 - 13:55:00, 23:58:20 - 24:00:00.");

  EXPECT_EQ(DescribeDay(columns, 0, kInput, date, russian),
            day + kInput + QStringLiteral(". Максимум 230V. Минимум 225V. ") + periods);
  // The other series gives its own extremes, with the locale's decimal separator; a mode
  // other than 1 reads the input series.
  EXPECT_EQ(DescribeDay(columns, 1, kOutput, date, russian),
            day + kOutput + QStringLiteral(". Максимум 221,5V. Минимум 219V. ") + periods);
  EXPECT_EQ(DescribeDay(columns, 7, kInput, date, russian),
            DescribeDay(columns, 0, kInput, date, russian));

  // Mains only; then a day without samples says so, whatever extremes were left.
  for (int j = 0; j < kDayColumns; ++j) {
    if (columns.BinState[j] == kBinBattery) columns.BinState[j] = kBinMains;
  }
  EXPECT_EQ(DescribeDay(columns, 0, kInput, date, russian),
            day + kInput + QStringLiteral(". Максимум 230V. Минимум 225V. ") +
                QStringLiteral("Питания от батареи не было."));
  columns.BinState.fill(kBinEmpty);
  EXPECT_EQ(DescribeDay(columns, 0, kInput, date, russian),
            day + kInput + QStringLiteral(". Нет данных за этот день."));
}

}  // namespace
}  // namespace qelta
