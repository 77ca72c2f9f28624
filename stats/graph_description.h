#pragma once

#include <QDate>
#include <QLocale>
#include <QString>

#include "stats/day_columns.h"

namespace qelta {

// What the graph shows, told in words for a screen reader: the day, the series, the series'
// maximum and minimum, and the battery periods as times of day ("10:00:00 - 10:16:40": from
// the start of a run of battery columns to the end of its last column). `series` is the name
// of the plotted series; `mode` 1 reads the output extremes, anything else the input ones.
QString DescribeDay(const DayColumns& columns, int mode, const QString& series, const QDate& date,
                    const QLocale& locale);

}  // namespace qelta
