#pragma once

// The status pop-up's texts and highlighting, computed from the last status without any
// widget, so that they can be checked without a display.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <QString>

#include "link/status_records.h"
#include "platform/balloon.h"

namespace qelta {

// The six readings, in the order of the pop-up's rows.
enum InfoReading : int {
  kIPVoltage = 0,
  kOPVoltage,
  kOPCurrent,
  kOPFrequency,
  kBatteryVoltage,
  kTemp,
  kInfoReadingCount
};

// Drops the first character while it is "0", more than one character remains and the next one
// is not the decimal point, so a digit always stands before the point:
// "098.5" -> "98.5", "000" -> "0", "000.0" -> "0.0", "220.0" unchanged.
std::string StripLeadingZeros(std::string_view text);

// The battery charge estimate in percent from the battery voltage text: the voltage divided
// by the 13.6 V of a full battery, times 100 (divided first, in long double). A value that is
// not at least 0 gives 0, one above 100 gives 100. Shared by the pop-up and the battery policy.
long double BatteryChargePercent(std::string_view battery_voltage);
// The same estimate truncated toward zero (59.99 gives 59).
int64_t BatteryChargePercentInteger(std::string_view battery_voltage);

// A number rounded to one decimal and written in fixed notation with "." as the decimal
// point, without regard to the locale: 25 -> "25.0", 25.37 -> "25.4". The rounding is half
// away from zero, applied to the value times ten (so 25.35 gives "25.4"); a result that
// rounds to zero is written without a minus sign.
QString OneDecimalText(long double value);

// The state words of a status: the set flags in a fixed order, and the alarm state, joined
// by ", " (the line-interactive flag is not shown). Never empty.
QString StateWords(const TUPSStatus& status);

// Whole seconds from `tick` to `deadline` on the wrapping 32-bit millisecond tick counter:
// the unsigned difference divided by 1000, truncated. A deadline that lies behind the tick
// (a difference of 2^31 ms or more) counts as 0 seconds rather than as a wrapped 49-day wait.
uint32_t SecondsUntil(uint32_t deadline, uint32_t tick);

// While this computer's power-off waits for the other computers on the UPS (the pop-up's line
// and the balloon): "Завершение работы других компьютеров..." with how many are still up.
QString OtherComputersText(int left);
// The balloon when mains returns while the others were being told to shut down.
inline constexpr const char* kForcedShutdownCleared =
    "Питание от сети восстановлено: сигнал завершения работы другим компьютерам (FSD) снят.";

// Everything a refresh reads.
struct InfoInputs {
  bool link_ok = false;
  TUPSStatus status;
  bool shutdown_pending = false;
  uint32_t shutdown_deadline = 0;
  uint32_t tick_count = 0;
  int other_computers_left = -1;  // -1 unless the power-off waits for the other computers
};

// Everything a refresh shows.
struct InfoView {
  std::array<QString, kInfoReadingCount> readings;
  std::array<bool, kInfoReadingCount> highlighted{};
  QString status;  // the status line under the readings
  QString countdown;  // "Завершение работы через N сек." while a countdown runs, else empty
  QString summary;  // multi-line text for the balloons, lines ended by "\r\n"
  bool perform_test_enabled = false;
};

// One refresh. With the link up every field is computed from `in`; with the link down the
// readings show "-", the status line says that there is no information, the self-test is
// disabled, and the highlighting and the summary of `previous` are kept. The countdown line
// follows the countdown whatever the link.
InfoView ComputeInfoView(const InfoInputs& in, const InfoView& previous);

// A status balloon: title, text and icon. Shown for 5000 ms.
struct StatusBalloon {
  QString title;
  QString text;
  BalloonIcon icon = BalloonIcon::Information;
};
constexpr int kStatusBalloonTimeoutMs = 5000;

// The balloon of a kind (0 welcome, 1 current state, 2 on-battery reminder); nothing for any
// other kind.
std::optional<StatusBalloon> StatusBalloonFor(int kind, bool link_ok, const QString& summary);

}  // namespace qelta
