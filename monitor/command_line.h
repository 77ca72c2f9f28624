#pragma once

#include <optional>
#include <string>
#include <vector>

namespace qelta {

// The text that "--help" or "--version" (as the first argument) asks for, to be printed on
// standard output without opening any window; nothing for every other command line.
// `arguments` excludes the program name.
std::optional<std::string> CommandLineText(const std::vector<std::string>& arguments);

}  // namespace qelta
