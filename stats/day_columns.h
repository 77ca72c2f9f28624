#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "link/status_records.h"

namespace qelta {

// The graph cuts a day into 864 columns of 100 seconds; 36 columns make an hour.
constexpr int kDayColumns = 864;
constexpr uint32_t kColumnSeconds = 100;
constexpr uint32_t kDaySeconds = 86400;

// What a column holds.
enum BinStateValue : uint8_t {
  kBinEmpty = 0,    // no sample
  kBinMains = 1,    // only mains samples
  kBinBattery = 2,  // at least one battery sample
};

// The columns of one day, kept by the window from one refresh to the next. Column values are
// volts above 160 (0 to 115); 0 means the column has no value. The extremes are in volts,
// 0 when there is none.
struct DayColumns {
  std::array<uint8_t, kDayColumns> BinState{};
  std::array<double, kDayColumns> InputBins{};
  std::array<double, kDayColumns> OutputBins{};
  double InputMax = 0;
  double InputMin = 0;
  double OutputMax = 0;
  double OutputMin = 0;
};

// A sample voltage as a column value: clipped to 160..275 V, then volts above 160. A value
// that is not a number counts as 0.
double ColumnValue(const Extended& voltage);

// One entry per second of one day, held only during a refresh: what the last record stamped
// with that second says (kBinEmpty when none), and its input and output values.
struct DaySeconds {
  explicit DaySeconds(uint32_t day_start);

  // Takes one record in file order; records stamped outside the day are ignored, and a
  // later record for the same second replaces an earlier one.
  void Add(const TUPSStatusRaw& record);
  // Every second empty again.
  void Clear();

  uint32_t DayStart;
  std::vector<uint8_t> SecondState;
  std::vector<double> InputSeconds;
  std::vector<double> OutputSeconds;
};

// Sets every column and both series' extremes of `columns` from the seconds of one day (the
// rules of ReduceDay).
void ReduceSeconds(const DaySeconds& seconds, DayColumns& columns);

// The refresh: sets every column and both series' extremes of `columns` from the records
// stamped DayStart .. DayStart + 86,399 (others are ignored), through one entry per second
// of the day (a later record for the same second replaces an earlier one, in file order):
// within a column, each mains second averages its value with the column's running value
// (the first one sets it); a battery second marks the column as battery and sets the input
// value to 130 and the output value to 0, which the drawing uses. The extremes follow, after
// every mains second, the running average of the column's mains seconds alone, so they are
// always made of measured mains voltages: a battery second is never averaged into them.
// Columns without a sample are emptied, whatever they held before.
void ReduceDay(const TUPSStatusRawData& records, uint32_t DayStart, DayColumns& columns);

}  // namespace qelta
