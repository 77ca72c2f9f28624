#include "stats/graph_description.h"

#include <QStringList>

#include "stats/hover_readout.h"
#include "stats/voltage_text.h"

namespace qelta {

namespace {

// A second of the day as "h:nn:ss"; the end of the last column reads 24:00:00.
QString SecondOfDayText(uint32_t second, const QLocale& locale) {
  if (second >= kDaySeconds) {
    const QString separator = TimeSeparator(locale);
    return QStringLiteral("24") + separator + QStringLiteral("00") + separator +
           QStringLiteral("00");
  }
  return TimeOfDayText(second, locale);
}

QStringList BatteryPeriods(const DayColumns& columns, const QLocale& locale) {
  QStringList periods;
  int column = 0;
  while (column < kDayColumns) {
    if (columns.BinState[column] != kBinBattery) {
      ++column;
      continue;
    }
    const int first = column;
    while (column < kDayColumns && columns.BinState[column] == kBinBattery) ++column;
    periods.append(SecondOfDayText(static_cast<uint32_t>(first) * kColumnSeconds, locale) +
                   QStringLiteral(" - ") +
                   SecondOfDayText(static_cast<uint32_t>(column) * kColumnSeconds, locale));
  }
  return periods;
}

}  // namespace

QString DescribeDay(const DayColumns& columns, int mode, const QString& series, const QDate& date,
                    const QLocale& locale) {
  QString text = locale.toString(date, QLocale::LongFormat) + QStringLiteral(". ") + series +
                 QStringLiteral(". ");
  bool any = false;
  for (const uint8_t state : columns.BinState) any = any || state != kBinEmpty;
  if (!any) return text + QStringLiteral("Нет данных за этот день.");

  const double maximum = mode == 1 ? columns.OutputMax : columns.InputMax;
  const double minimum = mode == 1 ? columns.OutputMin : columns.InputMin;
  const QString point = locale.decimalPoint();
  if (maximum > 0) {
    text += QStringLiteral("Максимум ") + FormatOneDecimal(maximum, point) + QStringLiteral("V. ");
  }
  if (minimum > 0) {
    text += QStringLiteral("Минимум ") + FormatOneDecimal(minimum, point) + QStringLiteral("V. ");
  }
  const QStringList periods = BatteryPeriods(columns, locale);
  if (periods.isEmpty()) return text + QStringLiteral("Питания от батареи не было.");
  return text + QStringLiteral("Питание от батареи: ") + periods.join(QStringLiteral(", ")) +
         QStringLiteral(".");
}

}  // namespace qelta
