#pragma once

#include <QString>
#include <QtGlobal>

namespace qelta {

// Where the status report goes, taken from the address the user wrote as `POST`/`URL`:
// an optional "http://", the host (a name, an IPv4 address or an IPv6 address in brackets),
// an optional ":port", then the path with an optional query from the first "/" on.
struct ReportAddress {
  QString host;  // as written, without the brackets of an IPv6 address
  quint16 port = 80;
  QString path;  // from the first "/" after the host, cut to kMaxReportPathLength characters
};

// The longest request target taken from the address, in characters.
constexpr int kMaxReportPathLength = 255;

// The outcome of reading an address: `problem` is empty when `address` can be used, and says
// otherwise, in words for the user, why no report can go to it.
struct ReportAddressCheck {
  ReportAddress address;
  QString problem;
  bool Usable() const { return problem.isEmpty(); }
};

// Reads an address. Blanks around it are ignored; "http://" in front is dropped whatever its
// case; an address without a path reports to "/". "host/path" gives host, port 80 and the
// path exactly as written. Refused with a reason: an empty address, another scheme
// ("https://" included: reports go out unencrypted), a user name ("user@host"), a port that
// is not a number from 1 to 65535, and a host that is empty or not a valid name or address.
ReportAddressCheck ReadReportAddress(const QString& url);

// The hint of the address field when the address can be used.
QString ReportAddressHint();

}  // namespace qelta
