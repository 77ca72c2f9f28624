#include "settings/autorun_store.h"

#include <string_view>
#include <system_error>

#include "settings/durable_file.h"
#include "settings/ini_document.h"
#include "settings/setting_keys.h"
#include "settings/xdg_paths.h"

namespace qelta {
namespace {

// The escapes of desktop-entry string values.
std::string EscapeDesktopString(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    switch (const char c = text[i]) {
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\r':
        out += "\\r";
        break;
      case ' ':
        out += i == 0 ? "\\s" : " ";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string UnescapeDesktopString(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c != '\\' || i + 1 >= text.size()) {
      out += c;
      continue;
    }
    const char next = text[i + 1];
    const char* replacement = next == 's'    ? " "
                              : next == 'n'  ? "\n"
                              : next == 't'  ? "\t"
                              : next == 'r'  ? "\r"
                              : next == '\\' ? "\\"
                                             : nullptr;
    if (replacement == nullptr) {
      out += c;  // not a string escape: left for the Exec quoting rules
    } else {
      out += replacement;
      ++i;
    }
  }
  return out;
}

// Characters that make an Exec argument need quotes.
constexpr std::string_view kReserved = " \t\n\"'\\><~|&;$*?#()`";
// Characters escaped with a backslash inside a quoted Exec argument.
constexpr std::string_view kEscapedInQuotes = "\"`$\\";

struct DesktopEntry {
  std::optional<std::string> exec;
  bool switched_off = false;
};

DesktopEntry ParseDesktopEntry(std::string_view text) {
  DesktopEntry entry;
  bool in_main_group = false;
  bool seen_hidden = false;
  bool seen_enabled = false;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    // CR LF and CR CR LF (a file that went through a careless conversion) end a line alike.
    while (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    line = Trim(line);
    if (line.empty() || line.front() == '#') continue;
    if (line.front() == '[') {
      in_main_group = line == "[Desktop Entry]";
      continue;
    }
    const size_t equals = line.find('=');
    if (!in_main_group || equals == std::string_view::npos) continue;
    const std::string_view key = Trim(line.substr(0, equals));
    const std::string_view value = Trim(line.substr(equals + 1));
    if (key == "Exec" && !entry.exec) {
      entry.exec = std::string(value);
    } else if (key == "Hidden" && !seen_hidden) {
      seen_hidden = true;
      if (value == "true") entry.switched_off = true;
    } else if (key == "X-GNOME-Autostart-enabled" && !seen_enabled) {
      seen_enabled = true;
      if (value == "false") entry.switched_off = true;
    }
  }
  return entry;
}

}  // namespace

bool FitsDesktopEntry(const std::string& path) {
  if (path.find("\xEF\xBF\xBD") != std::string::npos) return false;
  const auto* p = reinterpret_cast<const unsigned char*>(path.data());
  const auto* end = p + path.size();
  while (p < end) {
    const unsigned char c = *p;
    int more = 0;
    uint32_t code = 0;
    if (c < 0x80) {
      ++p;
      continue;
    } else if ((c & 0xE0) == 0xC0) {
      more = 1;
      code = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      more = 2;
      code = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      more = 3;
      code = c & 0x07;
    } else {
      return false;
    }
    if (end - p <= more) return false;
    for (int i = 1; i <= more; ++i) {
      if ((p[i] & 0xC0) != 0x80) return false;
      code = code << 6 | (p[i] & 0x3F);
    }
    // Overlong forms, surrogates and values beyond Unicode are not UTF-8.
    static constexpr uint32_t kLeast[] = {0, 0x80, 0x800, 0x10000};
    if (code < kLeast[more] || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) return false;
    p += more + 1;
  }
  return true;
}

std::string DesktopExecFor(const std::string& program) {
  std::string argument;
  const bool quoted = program.empty() || program.find_first_of(kReserved) != std::string::npos;
  if (quoted) argument += '"';
  for (const char c : program) {
    if (quoted && kEscapedInQuotes.find(c) != std::string_view::npos) argument += '\\';
    argument += c;
    if (c == '%') argument += '%';
  }
  if (quoted) argument += '"';
  return EscapeDesktopString(argument);
}

std::string ProgramOfDesktopExec(const std::string& exec) {
  const std::string command = UnescapeDesktopString(Trim(exec));
  std::string argument;
  size_t i = 0;
  if (!command.empty() && command.front() == '"') {
    for (i = 1; i < command.size() && command[i] != '"'; ++i) {
      if (command[i] == '\\' && i + 1 < command.size() &&
          kEscapedInQuotes.find(command[i + 1]) != std::string_view::npos) {
        ++i;
      }
      argument += command[i];
    }
  } else {
    const size_t end = command.find_first_of(" \t\n");
    argument = command.substr(0, end);
  }
  std::string program;
  for (i = 0; i < argument.size(); ++i) {
    program += argument[i];
    if (argument[i] == '%' && i + 1 < argument.size() && argument[i + 1] == '%') ++i;
  }
  return program;
}

AutorunStore::AutorunStore() : AutorunStore(XdgConfigHome() + "/autostart") {}

AutorunStore::AutorunStore(std::string autostart_folder)
    : folder_(std::move(autostart_folder)), path_(folder_ + '/' + kAutorunValue + ".desktop") {}

bool AutorunStore::IsRunValue(const std::string& section, const std::string& key) {
  return FoldName(section) == FoldName(kRun) && FoldName(key) == FoldName(kAutorunValue);
}

std::optional<std::string> AutorunStore::Lookup(const std::string& section,
                                                const std::string& key) {
  if (!IsRunValue(section, key)) return std::nullopt;
  std::optional<std::string> text;
  try {
    text = ReadFileIfExists(path_);
  } catch (const std::system_error&) {
    throw StoreError(GetDataFailure(key));
  }
  if (!text) return std::nullopt;
  const DesktopEntry entry = ParseDesktopEntry(*text);
  if (!entry.exec || entry.switched_off) return std::nullopt;
  std::string program = ProgramOfDesktopExec(*entry.exec);
  if (program.empty()) return std::nullopt;
  return program;
}

void AutorunStore::Store(const std::string& section, const std::string& key,
                         const std::string& text) {
  if (!IsRunValue(section, key)) throw StoreError(SetDataFailure(key));
  // An entry that names another file than the program is worse than none.
  if (!FitsDesktopEntry(text)) throw StoreError(SetDataFailure(key));
  if (text.empty()) {
    DeleteValue(section, key);
    return;
  }
  try {
    MakeFolders(folder_);
  } catch (const std::system_error& e) {
    throw StoreError(CreateKeyFailure(folder_), folder_, e.code().message());
  }
  const std::string entry = std::string("[Desktop Entry]\n") +
                            "Type=Application\n"
                            "Name=" +
                            kAutorunValue +
                            "\n"
                            "Exec=" +
                            DesktopExecFor(text) +
                            "\n"
                            "Terminal=false\n"
                            "X-GNOME-Autostart-enabled=true\n";
  try {
    ReplaceFileDurably(path_, entry);
  } catch (const std::system_error& e) {
    throw StoreError(SetDataFailure(key), path_, e.code().message());
  }
}

void AutorunStore::DeleteValue(const std::string& section, const std::string& key) {
  if (!IsRunValue(section, key)) return;
  try {
    RemoveFileDurably(path_);
  } catch (const std::system_error& e) {
    throw StoreError(SetDataFailure(key), path_, e.code().message());
  }
}

}  // namespace qelta
