#pragma once

#include <QString>

namespace qelta {

// A value in the "###.#" (or "#.#") form: at most one decimal, rounded half away from zero
// on the value's 15 significant decimal digits, no fraction when it is zero (230, not 230.0),
// a digit before the separator (0.5, not .5), and `decimal_point` as the separator.
QString FormatOneDecimal(double value, const QString& decimal_point);

}  // namespace qelta
