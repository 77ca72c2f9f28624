#include "stats/hover_readout.h"

#include <QRegularExpression>
#include <algorithm>

#include "link/status_records.h"
#include "stats/voltage_text.h"

namespace qelta {

namespace {

constexpr int64_t kMillisecondsPerDay = int64_t{kDaySeconds} * 1000;

}  // namespace

QDate FirstStampedDate() {
  return QDate(1970, 1, 1);
}

QDate LastStampedDate() {
  // The last day whose 23:59:59 is still below 2^32 seconds.
  return FirstStampedDate().addDays((int64_t{UINT32_MAX} - (kDaySeconds - 1)) / kDaySeconds);
}

uint32_t DayStartOf(const QDate& date) {
  const QDate clamped = std::clamp(date, FirstStampedDate(), LastStampedDate());
  const int64_t days = FirstStampedDate().daysTo(clamped);
  return TimeStampFromLocalMilliseconds(days * kMillisecondsPerDay);
}

QString TimeSeparator(const QLocale& locale) {
  const QString format = locale.timeFormat(QLocale::LongFormat);
  const qsizetype hour = format.indexOf(QRegularExpression(QStringLiteral("[hH]")));
  if (hour < 0) return QStringLiteral(":");
  qsizetype at = hour;
  while (at < format.size() && (format[at] == u'h' || format[at] == u'H')) ++at;
  const qsizetype minute = format.indexOf(u'm', at);
  if (minute <= at) return QStringLiteral(":");
  QString separator = format.mid(at, minute - at);
  separator.remove(u'\'');
  return separator.isEmpty() ? QStringLiteral(":") : separator;
}

QString TimeOfDayText(uint32_t stamp, const QLocale& locale) {
  const uint32_t second_of_day = stamp % kDaySeconds;
  const QString separator = TimeSeparator(locale);
  return QString::number(second_of_day / 3600) + separator +
         QStringLiteral("%1").arg(second_of_day / 60 % 60, 2, 10, QLatin1Char('0')) + separator +
         QStringLiteral("%1").arg(second_of_day % 60, 2, 10, QLatin1Char('0'));
}

QString HoverCaption(const QString& saved_caption, int x, int plot_left, const DayColumns& columns,
                     int mode, uint32_t DayStart, const QLocale& locale) {
  const int k = x - plot_left - 1;
  if (k < 0 || k >= kDayColumns) return saved_caption;
  QString value;
  if (columns.BinState[k] == kBinBattery) {
    value = QStringLiteral("питание от батареи");
  } else {
    const double v = mode == 1 ? columns.OutputBins[k] : columns.InputBins[k];
    if (v > 0) value = FormatOneDecimal(v + 160, locale.decimalPoint()) + QStringLiteral("V");
  }
  if (value.isEmpty()) return saved_caption;
  const QString time = TimeOfDayText(DayStart + kColumnSeconds * static_cast<uint32_t>(k), locale);
  return saved_caption + QStringLiteral(" [") + time + QStringLiteral(" ") + value +
         QStringLiteral("]");
}

}  // namespace qelta
