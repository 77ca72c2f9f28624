#include "stats/day_columns.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace qelta {

namespace {

constexpr long double kLowestVolts = 160;
constexpr long double kHighestVolts = 275;
constexpr double kBatteryInputValue = 130;

// Input and output value of a column or second after one more mains second.
double Averaged(double running, double sample) {
  return running == 0 ? sample : (running + sample) / 2;
}

void FollowExtremes(double value, double& highest, double& lowest) {
  if (value <= 0) return;
  const double volts = value + 160;
  if (volts > highest) highest = volts;
  if (lowest == 0 || volts < lowest) lowest = volts;
}

}  // namespace

double ColumnValue(const Extended& voltage) {
  long double v = voltage.ToLongDouble();
  if (std::isnan(v)) return 0;
  if (v > kHighestVolts) v = kHighestVolts;
  v -= kLowestVolts;
  return v > 0 ? static_cast<double>(v) : 0;
}

DaySeconds::DaySeconds(uint32_t day_start)
    : DayStart(day_start),
      SecondState(kDaySeconds, kBinEmpty),
      InputSeconds(kDaySeconds, 0),
      OutputSeconds(kDaySeconds, 0) {}

void DaySeconds::Add(const TUPSStatusRaw& r) {
  if (r.time < DayStart) return;
  const uint32_t s = r.time - DayStart;
  if (s >= kDaySeconds) return;
  InputSeconds[s] = ColumnValue(r.IP_voltage);
  OutputSeconds[s] = ColumnValue(r.OP_voltage);
  SecondState[s] = r.status_using_battery ? kBinBattery : kBinMains;
}

void DaySeconds::Clear() {
  std::fill(SecondState.begin(), SecondState.end(), kBinEmpty);
  std::fill(InputSeconds.begin(), InputSeconds.end(), 0);
  std::fill(OutputSeconds.begin(), OutputSeconds.end(), 0);
}

void ReduceDay(const TUPSStatusRawData& records, uint32_t DayStart, DayColumns& columns) {
  DaySeconds seconds(DayStart);
  for (const TUPSStatusRaw& r : records) seconds.Add(r);
  ReduceSeconds(seconds, columns);
}

void ReduceSeconds(const DaySeconds& seconds, DayColumns& columns) {
  columns.InputMax = columns.InputMin = columns.OutputMax = columns.OutputMin = 0;

  const std::vector<uint8_t>& SecondState = seconds.SecondState;
  const std::vector<double>& InputSeconds = seconds.InputSeconds;
  const std::vector<double>& OutputSeconds = seconds.OutputSeconds;

  for (int j = 0; j < kDayColumns; ++j) {
    uint8_t& state = columns.BinState[j];
    double& input = columns.InputBins[j];
    double& output = columns.OutputBins[j];
    state = kBinEmpty;
    input = output = 0;
    // The column's mains seconds alone, for the extremes: a battery second's place-holder
    // values draw the column but were never measured.
    double mains_input = 0;
    double mains_output = 0;
    const uint32_t first = static_cast<uint32_t>(j) * kColumnSeconds;
    for (uint32_t s = first; s < first + kColumnSeconds; ++s) {
      if (SecondState[s] == kBinMains) {
        if (state == kBinEmpty) state = kBinMains;
        input = Averaged(input, InputSeconds[s]);
        output = Averaged(output, OutputSeconds[s]);
        mains_input = Averaged(mains_input, InputSeconds[s]);
        mains_output = Averaged(mains_output, OutputSeconds[s]);
        FollowExtremes(mains_input, columns.InputMax, columns.InputMin);
        FollowExtremes(mains_output, columns.OutputMax, columns.OutputMin);
      } else if (SecondState[s] == kBinBattery) {
        state = kBinBattery;
        input = kBatteryInputValue;
        output = 0;
      }
    }
  }
}

}  // namespace qelta
