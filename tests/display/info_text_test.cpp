#include "display/info_text.h"

#include <gtest/gtest.h>

namespace qelta {
namespace {

// A status on mains with ordinary readings and no flag set.
TUPSStatus MainsStatus() {
  TUPSStatus s;
  s.IP_voltage = "220.0";
  s.IP_fault_voltage = "140.0";
  s.OP_voltage = "220.0";
  s.OP_current = "015";
  s.OP_frequency = "50.0";
  s.battery_voltage = "13.60";
  s.temp = "25.0";
  return s;
}

InfoInputs LinkUp(const TUPSStatus& status) {
  InfoInputs in;
  in.link_ok = true;
  in.status = status;
  return in;
}

InfoView ViewOf(const TUPSStatus& status) {
  return ComputeInfoView(LinkUp(status), InfoView{});
}

TEST(StripLeadingZeros, KeepsTheLastCharacter) {
  EXPECT_EQ(StripLeadingZeros("098.5"), "98.5");
  EXPECT_EQ(StripLeadingZeros("000"), "0");
  // A digit stays before the decimal point: 0 V is "0.0", not ".0".
  EXPECT_EQ(StripLeadingZeros("000.0"), "0.0");
  EXPECT_EQ(StripLeadingZeros("00.5"), "0.5");
  EXPECT_EQ(StripLeadingZeros("0.0"), "0.0");
  EXPECT_EQ(StripLeadingZeros("220.0"), "220.0");
  EXPECT_EQ(StripLeadingZeros("0"), "0");
  EXPECT_EQ(StripLeadingZeros(""), "");
}

TEST(BatteryChargePercent, DividesFirstClampsAndTruncates) {
  // 8.16 / 13.6 is just below 0.6, so dividing first gives 59 (multiplying first gives 60).
  EXPECT_EQ(BatteryChargePercentInteger("8.16"), 59);
  EXPECT_EQ(BatteryChargePercentInteger("13.60"), 100);
  EXPECT_EQ(BatteryChargePercentInteger("14.2"), 100);
  EXPECT_EQ(BatteryChargePercentInteger("-1"), 0);
  EXPECT_EQ(BatteryChargePercentInteger(""), 0);
  EXPECT_EQ(BatteryChargePercentInteger("  9.50"), 69);
  EXPECT_EQ(BatteryChargePercentInteger("junk"), 0);
  EXPECT_EQ(BatteryChargePercent("14.00"), 100.0L);
  EXPECT_EQ(BatteryChargePercent("-3"), 0.0L);
}

TEST(OneDecimalText, RoundsHalfAwayFromZeroWithADot) {
  EXPECT_EQ(OneDecimalText(25.0L), "25.0");
  EXPECT_EQ(OneDecimalText(25.37L), "25.4");
  EXPECT_EQ(OneDecimalText(25.34L), "25.3");
  EXPECT_EQ(OneDecimalText(0.25L), "0.3");
  EXPECT_EQ(OneDecimalText(-2.25L), "-2.3");
  EXPECT_EQ(OneDecimalText(-0.04L), "0.0");
  EXPECT_EQ(OneDecimalText(123456.0L), "123456.0");
}

struct ReadingCase {
  const char* field_value;
  QString expected;
  bool highlighted;
};

TEST(ComputeInfoView, BatteryLabelAndHighlight) {
  const ReadingCase cases[] = {
      {"13.60", "100%", false}, {"9.50", "69%", true}, {"14.00", "100%", false},
      {"-1.0", "0%", true},     {"9.51", "69%", true}, {"9.52", "70%", false},
  };
  for (const ReadingCase& c : cases) {
    TUPSStatus s = MainsStatus();
    s.battery_voltage = c.field_value;
    const InfoView v = ViewOf(s);
    EXPECT_EQ(v.readings[kBatteryVoltage], c.expected) << c.field_value;
    EXPECT_EQ(v.highlighted[kBatteryVoltage], c.highlighted) << c.field_value;
  }
}

TEST(ComputeInfoView, LoadLabelAndHighlight) {
  const ReadingCase cases[] = {
      {"081", "81%", true}, {"080", "80%", false}, {"015", "15%", false},
      {"abc", "0%", false}, {"12.5", "0%", false}, {"120", "120%", true},
  };
  for (const ReadingCase& c : cases) {
    TUPSStatus s = MainsStatus();
    s.OP_current = c.field_value;
    const InfoView v = ViewOf(s);
    EXPECT_EQ(v.readings[kOPCurrent], c.expected) << c.field_value;
    EXPECT_EQ(v.highlighted[kOPCurrent], c.highlighted) << c.field_value;
  }
}

TEST(ComputeInfoView, TemperatureLabelAndHighlight) {
  const ReadingCase cases[] = {
      {"25", "25.0°C", false},    {"25.37", "25.4°C", false}, {"35", "35.0°C", false},
      {"35.0", "35.0°C", false},  {"35.1", "35.1°C", true},   {"35.04", "35.0°C", true},
      {"-05.0", "-5.0°C", false}, {"x", "0.0°C", false},
  };
  for (const ReadingCase& c : cases) {
    TUPSStatus s = MainsStatus();
    s.temp = c.field_value;
    const InfoView v = ViewOf(s);
    EXPECT_EQ(v.readings[kTemp], c.expected) << c.field_value;
    EXPECT_EQ(v.highlighted[kTemp], c.highlighted) << c.field_value;
  }
}

TEST(ComputeInfoView, VoltagesAndFrequency) {
  TUPSStatus s = MainsStatus();
  s.IP_voltage = "000.0";
  s.OP_voltage = "098.5";
  s.OP_frequency = "050.0";
  InfoView v = ViewOf(s);
  EXPECT_EQ(v.readings[kIPVoltage], "0.0V");
  EXPECT_EQ(v.summary.left(25), "Напряжение на входе: 0.0V");
  EXPECT_EQ(v.readings[kOPVoltage], "98.5V");
  EXPECT_EQ(v.readings[kOPFrequency], "050.0Hz");  // shown exactly as received
  EXPECT_FALSE(v.highlighted[kIPVoltage]);

  // On battery the input voltage is highlighted; output voltage and frequency never are.
  s.status_using_battery = true;
  s.OP_voltage = "300.0";
  v = ViewOf(s);
  EXPECT_TRUE(v.highlighted[kIPVoltage]);
  EXPECT_FALSE(v.highlighted[kOPVoltage]);
  EXPECT_FALSE(v.highlighted[kOPFrequency]);
}

TEST(ComputeInfoView, StateLineAndSelfTestItem) {
  TUPSStatus s = MainsStatus();
  InfoView v = ViewOf(s);
  EXPECT_EQ(v.status, "Статус: доп. звук. оповещение выключено");
  EXPECT_TRUE(v.perform_test_enabled);

  s.status_ups_is_line_interactive = true;  // never shown
  s.status_beeper = true;
  EXPECT_EQ(ViewOf(s).status, "Статус: доп. звук. оповещение включено");

  s.status_using_battery = true;
  s.status_battery_low = true;
  s.status_avr = true;
  s.status_ups_failed = true;
  s.status_testing = true;
  s.status_shutdown = true;
  v = ViewOf(s);
  EXPECT_EQ(v.status,
            "Статус: работа от батареи, батарея разряжена, AVR, UPS неисправен, тестирование, "
            "выключение, доп. звук. оповещение включено");
  EXPECT_FALSE(v.perform_test_enabled);

  s = MainsStatus();
  s.status_avr = true;
  s.status_shutdown = true;
  EXPECT_EQ(ViewOf(s).status, "Статус: AVR, выключение, доп. звук. оповещение выключено");
}

TEST(ComputeInfoView, SummaryText) {
  TUPSStatus s = MainsStatus();
  s.IP_voltage = "230.5";
  s.OP_current = "081";
  s.battery_voltage = "9.50";
  s.temp = "25.37";
  s.status_avr = true;
  EXPECT_EQ(ViewOf(s).summary,
            "Напряжение на входе: 230.5V\r\n"
            "Напряжение на выходе: 220.0V\r\n"
            "Нагрузка на выходе: 81%\r\n"
            "Частота на выходе: 50.0Hz\r\n"
            "Заряд батареи: 69%\r\n"
            "Температура: 25.4°C\r\n"
            "\r\n"
            "Статус: AVR, доп. звук. оповещение выключено");
}

TEST(ComputeInfoView, CountdownLine) {
  InfoInputs in = LinkUp(MainsStatus());
  in.shutdown_pending = true;
  in.tick_count = 1000000;
  in.shutdown_deadline = 1000000 + 59999;
  EXPECT_TRUE(ComputeInfoView(in, {}).summary.endsWith(
      "доп. звук. оповещение выключено\r\n\r\nЗавершение работы через 59 сек."));
  // The pop-up shows the same line on its own.
  EXPECT_EQ(ComputeInfoView(in, {}).countdown, "Завершение работы через 59 сек.");

  // Across the wrap of the tick counter.
  in.tick_count = 0xFFFFF000u;
  in.shutdown_deadline = 0xFFFFF000u + 30500u;  // wraps to 0x00006C24
  ASSERT_LT(in.shutdown_deadline, in.tick_count);
  EXPECT_TRUE(ComputeInfoView(in, {}).summary.endsWith("\r\n\r\nЗавершение работы через 30 сек."));

  // Deadline equal to the tick: no line.
  in.shutdown_deadline = in.tick_count;
  EXPECT_FALSE(ComputeInfoView(in, {}).summary.contains("Завершение"));
  EXPECT_TRUE(ComputeInfoView(in, {}).countdown.isEmpty());

  // No countdown pending: no line whatever the deadline.
  in.shutdown_pending = false;
  in.shutdown_deadline = in.tick_count + 60000;
  EXPECT_FALSE(ComputeInfoView(in, {}).summary.contains("Завершение"));
  EXPECT_TRUE(ComputeInfoView(in, {}).countdown.isEmpty());

  // A deadline already behind the tick counts as 0 seconds, not as a 49-day wait.
  in.shutdown_pending = true;
  in.shutdown_deadline = 5000;
  in.tick_count = 5001;
  EXPECT_TRUE(ComputeInfoView(in, {}).summary.endsWith("Завершение работы через 0 сек."));
}

TEST(SecondsUntil, UnsignedDifference) {
  EXPECT_EQ(SecondsUntil(61999, 2000), 59u);
  EXPECT_EQ(SecondsUntil(100, 0xFFFFFF00u), 0u);      // 356 ms across the wrap
  EXPECT_EQ(SecondsUntil(2000, 0xFFFFFC18u), 3u);     // 3000 ms across the wrap
  EXPECT_EQ(SecondsUntil(0x7FFFFFFFu, 0), 2147483u);  // the longest wait still ahead
  EXPECT_EQ(SecondsUntil(0, 1), 0u);                  // just passed
}

TEST(ComputeInfoView, LinkLostKeepsHighlightsAndSummary) {
  TUPSStatus s = MainsStatus();
  s.battery_voltage = "9.50";
  s.status_using_battery = true;
  const InfoView up = ViewOf(s);
  ASSERT_FALSE(up.summary.isEmpty());

  InfoInputs lost;
  lost.link_ok = false;
  lost.status = MainsStatus();  // ignored
  lost.shutdown_pending = true;
  lost.shutdown_deadline = 60000;
  const InfoView down = ComputeInfoView(lost, up);
  for (const QString& r : down.readings) EXPECT_EQ(r, "-");
  EXPECT_EQ(down.status, "Статус: нет информации");
  EXPECT_FALSE(down.perform_test_enabled);
  EXPECT_EQ(down.highlighted, up.highlighted);
  EXPECT_EQ(down.summary, up.summary);
  // A countdown that runs is shown even without the readings.
  EXPECT_EQ(down.countdown, "Завершение работы через 60 сек.");

  // Before any working link the summary stays empty.
  EXPECT_TRUE(ComputeInfoView(lost, InfoView{}).summary.isEmpty());
}

}  // namespace
}  // namespace qelta
