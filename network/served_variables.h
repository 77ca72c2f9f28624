#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "link/status_records.h"

namespace qelta {

// One variable as the network protocol serves it.
struct ServedVariable {
  std::string name;
  std::string value;
  bool numeric = false;
};

// The variables of the UPS from the last good poll, sorted by name. `poll_time` is the sample's
// time stamp (local wall-clock seconds); `forced_shutdown` adds FSD to ups.status. Readings
// whose text is not a number are left out rather than served as 0.
std::vector<ServedVariable> ServedVariables(const TUPSStatus& status, uint32_t poll_time,
                                            bool forced_shutdown);

// The status words of ups.status: OL or OB, then LB, BOOST/TRIM (line-interactive) or BYPASS
// (online) when the regulation flag is set, CAL during the self-test, ALARM for the UPS fault,
// FSD once set.
std::string StatusWords(const TUPSStatus& status, bool forced_shutdown);

// A reading in the protocol's number format: a dot as decimal point, no exponent, the reading's
// own count of decimals (at most 3), leading zeros dropped ("049.9" gives "49.9"). Empty when
// the text is not a plain decimal number.
std::string ProtocolNumber(const std::string& text);

// The instant commands this server offers.
const std::vector<std::string>& InstantCommandNames();

}  // namespace qelta
