#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qelta {

// Splits one request line of the UPS network protocol into its arguments. Arguments are
// separated by blanks (spaces or tabs); an argument that holds blanks is written in double
// quotes, and inside quotes (and outside them) a backslash makes the next character literal.
// The line comes without its LF; one trailing CR is dropped. nullopt when a quote is not closed
// or the line ends in a lone backslash.
std::optional<std::vector<std::string>> SplitRequestLine(std::string_view line);

// A value as answers carry it: in double quotes, with `"` and `\` escaped by a backslash. Line
// breaks and other control characters become blanks, so that a value never breaks the framing.
std::string QuotedValue(std::string_view value);

// Compares two secrets in time that depends only on their lengths, not on where they differ.
bool SecretsEqual(std::string_view a, std::string_view b);

}  // namespace qelta
