#include "network/request_line.h"

namespace qelta {

std::optional<std::vector<std::string>> SplitRequestLine(std::string_view line) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  std::vector<std::string> arguments;
  std::string current;
  bool in_argument = false;
  bool quoted = false;
  for (size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (c == '\\') {
      if (i + 1 >= line.size()) return std::nullopt;
      current += line[++i];
      in_argument = true;
    } else if (c == '"') {
      quoted = !quoted;
      in_argument = true;  // "" is an empty argument
    } else if (!quoted && (c == ' ' || c == '\t')) {
      if (in_argument) arguments.push_back(std::move(current));
      current.clear();
      in_argument = false;
    } else {
      current += c;
      in_argument = true;
    }
  }
  if (quoted) return std::nullopt;
  if (in_argument) arguments.push_back(std::move(current));
  return arguments;
}

std::string QuotedValue(std::string_view value) {
  std::string out;
  out.reserve(value.size() + 2);
  out += '"';
  for (const char c : value) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
      out += ' ';
    } else {
      out += c;
    }
  }
  out += '"';
  return out;
}

bool SecretsEqual(std::string_view a, std::string_view b) {
  // Every byte of the longer text is looked at, whatever the other holds.
  const size_t n = a.size() > b.size() ? a.size() : b.size();
  unsigned difference = a.size() == b.size() ? 0u : 1u;
  for (size_t i = 0; i < n; ++i) {
    const auto x = static_cast<unsigned char>(i < a.size() ? a[i] : 0);
    const auto y = static_cast<unsigned char>(i < b.size() ? b[i] : 0);
    difference |= static_cast<unsigned>(x ^ y);
  }
  // Keep the compiler from ending the loop early.
  volatile unsigned result = difference;
  return result == 0;
}

}  // namespace qelta
