#include "monitor/report_fields.h"

#include <gtest/gtest.h>

#include <iconv.h>
#include "qt_print.h"

#include <QString>
#include <cerrno>
#include <cstring>

namespace qelta {
namespace {

// The byte glibc's converter gives for one code point, or -1 when it has none.
int GlibcWindows1251(iconv_t cd, char32_t code_point) {
  char in[4];
  std::memcpy(in, &code_point, 4);  // the host is little-endian, as UTF-32LE
  char out[8];
  char* in_ptr = in;
  char* out_ptr = out;
  size_t in_left = 4;
  size_t out_left = sizeof out;
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  if (iconv(cd, &in_ptr, &in_left, &out_ptr, &out_left) == static_cast<size_t>(-1)) return -1;
  if (sizeof out - out_left != 1) return -1;
  return static_cast<unsigned char>(out[0]);
}

TEST(Windows1251, EveryCharacterOfTheBasicPlaneAgreesWithGlibc) {
  iconv_t cd = iconv_open("CP1251", "UTF-32LE");
  ASSERT_NE(cd, reinterpret_cast<iconv_t>(-1)) << "glibc has no CP1251 converter";
  int mapped_upper = 0;
  for (char32_t cp = 1; cp < 0x10000; ++cp) {
    if (cp >= 0xD800 && cp <= 0xDFFF) continue;  // surrogates are no characters
    const int expected = GlibcWindows1251(cd, cp);
    const QByteArray got = ToWindows1251(QString(QChar(static_cast<char16_t>(cp))));
    ASSERT_EQ(got.size(), 1) << std::hex << static_cast<uint32_t>(cp);
    if (expected < 0) {
      EXPECT_EQ(got, "?") << "U+" << std::hex << static_cast<uint32_t>(cp);
    } else {
      EXPECT_EQ(static_cast<unsigned char>(got[0]), expected)
          << "U+" << std::hex << static_cast<uint32_t>(cp);
      if (expected >= 0x80) ++mapped_upper;
    }
  }
  iconv_close(cd);
  // Every byte from 0x80 up has its character, except 0x98.
  EXPECT_EQ(mapped_upper, 127);
}

TEST(Windows1251, CharactersWithoutAFormBecomeOneQuestionMarkEach) {
  EXPECT_EQ(ToWindows1251(u"é中"), "??");
  // One character beyond the Basic Multilingual Plane (two UTF-16 units) is one "?".
  EXPECT_EQ(ToWindows1251(QString::fromUtf8("a\xF0\x9F\x98\x80z")), "a?z");
  // A lone surrogate unit, too.
  EXPECT_EQ(ToWindows1251(QString(QChar(0xD800)) + QStringLiteral("b")), "?b");
  EXPECT_EQ(ToWindows1251(u"Ёё°№€"), "\xA8\xB8\xB0\xB9\x88");
}

TEST(FormEncoding, KeepsLettersAndDigitsAndEncodesEveryOtherByte) {
  EXPECT_EQ(EncodeFormValue(u"AZaz09"), "AZaz09");
  EXPECT_EQ(EncodeFormValue(u"a b"), "a+b");
  EXPECT_EQ(EncodeFormValue(u"220.0V"), "220%2E0V");
  EXPECT_EQ(EncodeFormValue(u"15%"), "15%25");
  EXPECT_EQ(EncodeFormValue(u"25.0°C"), "25%2E0%B0C");
  EXPECT_EQ(EncodeFormValue(u"-"), "%2D");
  EXPECT_EQ(EncodeFormValue(u"+&=_~*"), "%2B%26%3D%5F%7E%2A");
  EXPECT_EQ(EncodeFormValue(u"\r\n"), "%0D%0A");
  // Upper-case hexadecimal digits, Windows-1251 bytes.
  EXPECT_EQ(EncodeFormValue(u"Склад я"), "%D1%EA%EB%E0%E4+%FF");
  EXPECT_EQ(EncodeFormValue(u"中"), "%3F");
}

TUPSStatus SampleStatus() {
  TUPSStatus s;
  s.status_using_battery = true;
  s.status_battery_low = false;
  s.status_avr = true;
  s.status_ups_failed = false;
  s.status_ups_is_line_interactive = true;
  s.status_testing = false;
  s.status_shutdown = false;
  s.status_beeper = true;
  return s;
}

TEST(ReportBody, FourteenFieldsInOrderWithFlags) {
  const ReportFields fields = MakeReportFields(
      QStringLiteral("220.0V"), QStringLiteral("219.5V"), QStringLiteral("15%"),
      QStringLiteral("50.0Hz"), QStringLiteral("100%"), QStringLiteral("25.0°C"), SampleStatus());
  const char* names[] = {"IP_voltage",
                         "OP_voltage",
                         "OP_current",
                         "OP_frequency",
                         "battery_voltage",
                         "temp",
                         "status_using_battery",
                         "status_battery_low",
                         "status_avr",
                         "status_ups_failed",
                         "status_ups_is_line_interactive",
                         "status_testing",
                         "status_shutdown",
                         "status_beeper"};
  const char* values[] = {"220.0V", "219.5V", "15%", "50.0Hz", "100%", "25.0°C", "1",
                          "0",      "1",      "0",   "1",      "0",    "0",      "1"};
  ASSERT_EQ(fields.size(), 14u);
  for (size_t i = 0; i < 14; ++i) {
    EXPECT_EQ(fields[i].name, QString::fromLatin1(names[i]));
    EXPECT_EQ(fields[i].value, QString::fromUtf8(values[i]));
  }

  EXPECT_EQ(EncodeReportBody(fields),
            "IP_voltage=220%2E0V&OP_voltage=219%2E5V&OP_current=15%25&OP_frequency=50%2E0Hz&"
            "battery_voltage=100%25&temp=25%2E0%B0C&status_using_battery=1&"
            "status_battery_low=0&status_avr=1&status_ups_failed=0&"
            "status_ups_is_line_interactive=1&status_testing=0&status_shutdown=0&"
            "status_beeper=1&");
}

TEST(ReportBody, LinkLostSendsDashesAndTheLastFlags) {
  const QString dash = QStringLiteral("-");
  const QByteArray body =
      EncodeReportBody(MakeReportFields(dash, dash, dash, dash, dash, dash, SampleStatus()));
  EXPECT_EQ(body,
            "IP_voltage=%2D&OP_voltage=%2D&OP_current=%2D&OP_frequency=%2D&"
            "battery_voltage=%2D&temp=%2D&status_using_battery=1&status_battery_low=0&"
            "status_avr=1&status_ups_failed=0&status_ups_is_line_interactive=1&"
            "status_testing=0&status_shutdown=0&status_beeper=1&");
}

TEST(ReportBody, EmptyValueDropsItsPair) {
  const ReportFields fields = {{QStringLiteral("a"), QStringLiteral("1")},
                               {QStringLiteral("b"), QString()},
                               {QStringLiteral("c"), QStringLiteral(" ")}};
  EXPECT_EQ(EncodeReportBody(fields), "a=1&c=+&");
  EXPECT_EQ(EncodeReportBody({}), "");
}

}  // namespace
}  // namespace qelta
