#include "monitor/report_fields.h"

#include <array>

namespace qelta {

namespace {

// Unicode code points of the Windows-1251 bytes 0x80 to 0xFF; 0 marks the one byte (0x98)
// that has no character.
constexpr std::array<char16_t, 128> kUpperHalf = {
    // 0x80
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,  //
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,  //
    // 0x90
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  //
    0x0000, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,  //
    // 0xA0
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,  //
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,  //
    // 0xB0
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,  //
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,  //
    // 0xC0: А to П
    0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417,  //
    0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F,  //
    // 0xD0: Р to Я
    0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427,  //
    0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F,  //
    // 0xE0: а to п
    0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437,  //
    0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F,  //
    // 0xF0: р to я
    0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447,  //
    0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F,  //
};

char ToWindows1251Byte(char32_t code_point) {
  if (code_point < 0x80) return static_cast<char>(code_point);
  // The Cyrillic alphabet proper is one run in both tables.
  if (code_point >= 0x0410 && code_point <= 0x044F) {
    return static_cast<char>(0xC0 + (code_point - 0x0410));
  }
  for (size_t i = 0; i < 0x40; ++i) {
    if (kUpperHalf[i] != 0 && kUpperHalf[i] == code_point) return static_cast<char>(0x80 + i);
  }
  return '?';
}

QString Flag(bool value) {
  return value ? QStringLiteral("1") : QStringLiteral("0");
}

}  // namespace

ReportFields MakeReportFields(const QString& IP_voltage, const QString& OP_voltage,
                              const QString& OP_current, const QString& OP_frequency,
                              const QString& battery_voltage, const QString& temp,
                              const TUPSStatus& status) {
  return {
      {QStringLiteral("IP_voltage"), IP_voltage},
      {QStringLiteral("OP_voltage"), OP_voltage},
      {QStringLiteral("OP_current"), OP_current},
      {QStringLiteral("OP_frequency"), OP_frequency},
      {QStringLiteral("battery_voltage"), battery_voltage},
      {QStringLiteral("temp"), temp},
      {QStringLiteral("status_using_battery"), Flag(status.status_using_battery)},
      {QStringLiteral("status_battery_low"), Flag(status.status_battery_low)},
      {QStringLiteral("status_avr"), Flag(status.status_avr)},
      {QStringLiteral("status_ups_failed"), Flag(status.status_ups_failed)},
      {QStringLiteral("status_ups_is_line_interactive"),
       Flag(status.status_ups_is_line_interactive)},
      {QStringLiteral("status_testing"), Flag(status.status_testing)},
      {QStringLiteral("status_shutdown"), Flag(status.status_shutdown)},
      {QStringLiteral("status_beeper"), Flag(status.status_beeper)},
  };
}

QByteArray ToWindows1251(QStringView text) {
  QByteArray out;
  out.reserve(text.size());
  for (qsizetype i = 0; i < text.size(); ++i) {
    const QChar c = text[i];
    if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
      // A character beyond the Basic Multilingual Plane: one character, one "?".
      ++i;
      out.append('?');
    } else if (c.isSurrogate()) {
      out.append('?');
    } else {
      out.append(ToWindows1251Byte(c.unicode()));
    }
  }
  return out;
}

QByteArray EncodeFormValue(QStringView value) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  const QByteArray bytes = ToWindows1251(value);
  QByteArray out;
  out.reserve(bytes.size() * 3);
  for (char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    if ((b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || (b >= '0' && b <= '9')) {
      out.append(c);
    } else if (b == ' ') {
      out.append('+');
    } else {
      out.append('%');
      out.append(kHex[b >> 4]);
      out.append(kHex[b & 0x0F]);
    }
  }
  return out;
}

QByteArray EncodeReportBody(const ReportFields& fields) {
  QByteArray body;
  for (const ReportField& field : fields) {
    if (field.value.isEmpty()) continue;
    body.append(ToWindows1251(field.name));
    body.append('=');
    body.append(EncodeFormValue(field.value));
    body.append('&');
  }
  return body;
}

}  // namespace qelta
