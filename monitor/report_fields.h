#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>
#include <vector>

#include "link/status_records.h"

namespace qelta {

// One field of the status report: its form name and its value as the user sees it.
struct ReportField {
  QString name;
  QString value;

  bool operator==(const ReportField&) const = default;
};

// The fields of one report, in the order they are sent.
using ReportFields = std::vector<ReportField>;

// The fourteen report fields: the six reading texts exactly as the status pop-up shows them
// (units included, "-" when the link is lost), then the eight flags of the status as "1"/"0".
ReportFields MakeReportFields(const QString& IP_voltage, const QString& OP_voltage,
                              const QString& OP_current, const QString& OP_frequency,
                              const QString& battery_voltage, const QString& temp,
                              const TUPSStatus& status);

// The Windows-1251 form of a text, one byte per character. A character that has no
// Windows-1251 form (a character outside the Basic Multilingual Plane included) becomes "?".
QByteArray ToWindows1251(QStringView text);

// A value in form encoding: its Windows-1251 bytes with A-Z, a-z and 0-9 kept, the blank as
// "+" and every other byte as "%" and two upper-case hexadecimal digits.
QByteArray EncodeFormValue(QStringView value);

// The request body: every field as name=value followed by "&" (so the body ends with "&").
// Names go out as they are; a field whose value is empty is left out.
QByteArray EncodeReportBody(const ReportFields& fields);

}  // namespace qelta
