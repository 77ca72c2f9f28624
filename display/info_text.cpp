#include "display/info_text.h"

#include <charconv>
#include <cmath>

namespace qelta {

namespace {

// A full battery, in volts.
constexpr long double kFullBatteryVolts = 13.6L;

QString Ascii(std::string_view bytes) {
  return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

}  // namespace

std::string StripLeadingZeros(std::string_view text) {
  // A zero just before the decimal point stays: 0 V reads "0.0", never ".0".
  while (text.size() > 1 && text.front() == '0' && text[1] != '.') text.remove_prefix(1);
  return std::string(text);
}

long double BatteryChargePercent(std::string_view battery_voltage) {
  const long double v = DecimalToLongDouble(battery_voltage);
  long double c = v / kFullBatteryVolts * 100.0L;
  if (!(c >= 0.0L)) c = 0.0L;
  if (c > 100.0L) c = 100.0L;
  return c;
}

int64_t BatteryChargePercentInteger(std::string_view battery_voltage) {
  // Within [0, 100], so the conversion cannot overflow.
  return static_cast<int64_t>(BatteryChargePercent(battery_voltage));
}

QString OneDecimalText(long double value) {
  if (!std::isfinite(value)) value = 0.0L;
  // Beyond 2^63 every long double is a whole number: nothing to round.
  long double rounded = value;
  if (std::fabs(value) < 9223372036854775808.0L) {
    rounded = std::round(value * 10.0L) / 10.0L;
    if (rounded == 0.0L) rounded = 0.0L;  // no "-0.0"
  }
  // Fixed notation of the largest long double needs about 4933 digits.
  std::array<char, 5000> buffer;
  const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), rounded,
                                    std::chars_format::fixed, 1);
  if (result.ec != std::errc()) return QStringLiteral("0.0");
  return QString::fromLatin1(buffer.data(), result.ptr - buffer.data());
}

QString StateWords(const TUPSStatus& status) {
  QString words;
  if (status.status_using_battery) words += QStringLiteral("работа от батареи, ");
  if (status.status_battery_low) words += QStringLiteral("батарея разряжена, ");
  if (status.status_avr) words += QStringLiteral("AVR, ");
  if (status.status_ups_failed) words += QStringLiteral("UPS неисправен, ");
  if (status.status_testing) words += QStringLiteral("тестирование, ");
  if (status.status_shutdown) words += QStringLiteral("выключение, ");
  words += status.status_beeper ? QStringLiteral("доп. звук. оповещение включено, ")
                                : QStringLiteral("доп. звук. оповещение выключено, ");
  words.chop(2);
  return words;
}

uint32_t SecondsUntil(uint32_t deadline, uint32_t tick) {
  const uint32_t difference = deadline - tick;  // wraps with the tick counter
  if (difference >= 0x80000000u) return 0;      // the deadline has already passed
  return difference / 1000;
}

QString OtherComputersText(int left) {
  return QStringLiteral("Завершение работы других компьютеров... Осталось: ") +
         QString::number(left);
}

InfoView ComputeInfoView(const InfoInputs& in, const InfoView& previous) {
  InfoView view;
  if (in.other_computers_left >= 0) view.countdown = OtherComputersText(in.other_computers_left);
  if (in.shutdown_pending && in.shutdown_deadline != in.tick_count) {
    view.countdown = QStringLiteral("Завершение работы через ") +
                     QString::number(SecondsUntil(in.shutdown_deadline, in.tick_count)) +
                     QStringLiteral(" сек.");
  }
  if (!in.link_ok) {
    view.readings.fill(QStringLiteral("-"));
    view.highlighted = previous.highlighted;
    view.status = QStringLiteral("Статус: нет информации");
    view.summary = previous.summary;
    view.perform_test_enabled = false;
    return view;
  }

  const TUPSStatus& s = in.status;
  const int32_t load = IntegerOrZero(s.OP_current);
  const long double charge = BatteryChargePercent(s.battery_voltage);
  const long double temp = DecimalToLongDouble(s.temp);

  view.readings[kIPVoltage] = Ascii(StripLeadingZeros(s.IP_voltage)) + QStringLiteral("V");
  view.readings[kOPVoltage] = Ascii(StripLeadingZeros(s.OP_voltage)) + QStringLiteral("V");
  view.readings[kOPCurrent] = QString::number(load) + QStringLiteral("%");
  view.readings[kOPFrequency] = Ascii(s.OP_frequency) + QStringLiteral("Hz");
  view.readings[kBatteryVoltage] =
      QString::number(static_cast<qint64>(charge)) + QStringLiteral("%");
  view.readings[kTemp] = OneDecimalText(temp) + QStringLiteral("°C");

  view.highlighted[kIPVoltage] = s.status_using_battery;
  view.highlighted[kOPVoltage] = false;
  view.highlighted[kOPCurrent] = load > 80;
  view.highlighted[kOPFrequency] = false;
  view.highlighted[kBatteryVoltage] = charge < 70.0L;
  view.highlighted[kTemp] = temp > 35.0L;

  const QString words = StateWords(s);
  view.perform_test_enabled = !s.status_testing;
  view.status = QStringLiteral("Статус: ") + words;

  const QString eol = QStringLiteral("\r\n");
  view.summary = QStringLiteral("Напряжение на входе: ") + view.readings[kIPVoltage] + eol +
                 QStringLiteral("Напряжение на выходе: ") + view.readings[kOPVoltage] + eol +
                 QStringLiteral("Нагрузка на выходе: ") + view.readings[kOPCurrent] + eol +
                 QStringLiteral("Частота на выходе: ") + view.readings[kOPFrequency] + eol +
                 QStringLiteral("Заряд батареи: ") + view.readings[kBatteryVoltage] + eol +
                 QStringLiteral("Температура: ") + view.readings[kTemp];
  if (!words.isEmpty()) view.summary += eol + eol + QStringLiteral("Статус: ") + words;
  if (!view.countdown.isEmpty()) view.summary += eol + eol + view.countdown;
  return view;
}

std::optional<StatusBalloon> StatusBalloonFor(int kind, bool link_ok, const QString& summary) {
  StatusBalloon balloon;
  switch (kind) {
    case 0:
      balloon.title = QStringLiteral("Добро пожаловать!");
      if (!link_ok) balloon.text = QStringLiteral("Нет связи с UPS. Проверьте кабель и настройки.");
      break;
    case 1:
      balloon.title = QStringLiteral("Текущее состояние UPS");
      if (!link_ok) balloon.text = QStringLiteral("Нет информации.");
      break;
    case 2:
      balloon.title = QStringLiteral("Внимание! Питание от батареи UPS.");
      if (!link_ok) balloon.text = QStringLiteral("Нет информации.");
      break;
    default:
      return std::nullopt;
  }
  if (link_ok) {
    balloon.text = summary;
    balloon.icon = BalloonIcon::Information;
  } else {
    balloon.icon = BalloonIcon::Error;
  }
  return balloon;
}

}  // namespace qelta
