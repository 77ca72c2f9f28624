#pragma once

#include <QDate>
#include <QLocale>
#include <QString>
#include <cstdint>

#include "stats/day_columns.h"

namespace qelta {

// The first and the last dates whose every second has a time stamp: 1970-01-01 and
// 2106-02-06 (the stamps are unsigned 32-bit seconds).
QDate FirstStampedDate();
QDate LastStampedDate();

// The time stamp of 00:00:00 of `date`, counted like the records' stamps: seconds since
// 1970-01-01 00:00:00 of the local wall clock, without time-zone or daylight-saving
// adjustment. The day's last second is DayStart + 86,399. Dates outside FirstStampedDate ..
// LastStampedDate are clamped to it.
uint32_t DayStartOf(const QDate& date);

// The separator between hours and minutes in the locale's time format (":" when it shows
// none).
QString TimeSeparator(const QLocale& locale);

// The local time of day of a stamp in the "h:nn:ss" form: hour without a leading zero,
// minutes and seconds with two digits, the locale's time separator between them.
QString TimeOfDayText(uint32_t stamp, const QLocale& locale);

// What the caption shows with the pointer at `x` within the paint box, the graph's time axis
// starting at `plot_left` (from the last paint): `saved_caption`, followed by
// " [<start of the column's time> <value>]" when the column under the pointer has something
// to show: "питание от батареи" for a battery column, else the selected series' value as
// volts ("#.#" with the locale's decimal separator, then "V") when it is above 0. `mode` 1
// is the output series, anything else the input series.
QString HoverCaption(const QString& saved_caption, int x, int plot_left, const DayColumns& columns,
                     int mode, uint32_t DayStart, const QLocale& locale);

}  // namespace qelta
