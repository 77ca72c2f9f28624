#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qelta {

// The text of an INI file as a list of lines, edited in place so that a rewrite keeps what a
// person put there (comments, blank lines, order, spacing of lines not changed).
//
// Format:
//   [Section]
//   Key=value
// Lines end at LF, CR LF, CR CR LF or a CR of its own; a rewrite ends every line with LF.
// Byte-order marks at the start of the text are dropped (a rewrite writes none).
// Lines whose first non-blank character is ';' or '#' are comments; lines that are neither a
// section header nor hold a '=' are kept but ignored. Blanks around a key, a value and a
// section name are not part of it. Lines before the first section belong to no section.
// Section and key names compare without regard to case (Unicode case folding); a change of an
// existing key keeps its stored spelling. When a name occurs more than once, the first
// occurrence counts, and a write removes the later ones.
//
// Escapes, so that any byte string round-trips: "\\" backslash, "\n" line feed, "\r" carriage
// return, "\t" tab, "\s" a blank (written only for leading and trailing blanks), "\xHH" any byte
// (written for other control characters, C1 controls and bytes that are not valid UTF-8, and
// in names for the characters that would change the line's meaning: '=' in keys, ']' in
// section names, '[' ';' '#' at the start of a key). A backslash followed by anything else is
// read as a plain backslash, so a hand-typed "C:\Sounds" reads as written. Valid UTF-8 text,
// '=', '[', '"' and everything else in values are written as they are.

// The text without the blanks (spaces and tabs) at its start and end.
std::string_view Trim(std::string_view text);

// One Key=value line as read: the name of the section it stands in (none before the first
// section header), its key and its value, decoded.
struct IniEntry {
  std::optional<std::string> section;
  std::string key;
  std::string value;

  bool operator==(const IniEntry&) const = default;
};

class IniDocument {
 public:
  static IniDocument Parse(std::string_view text);
  std::string Serialize() const;

  std::optional<std::string> Find(std::string_view section, std::string_view key) const;
  bool HasSection(std::string_view section) const;

  // What the document says, in the order of its lines: the names of its section headers, and
  // every entry (later duplicates included).
  std::vector<std::string> Sections() const;
  std::vector<IniEntry> Entries() const;

  // Both return true when the document changed.
  bool Set(std::string_view section, std::string_view key, std::string_view value);
  bool Remove(std::string_view section, std::string_view key);

 private:
  enum class Kind { kOther, kSection, kEntry };
  struct Line {
    Kind kind = Kind::kOther;
    std::string raw;    // the text of the line, without its line end
    std::string name;   // section or key name, decoded
    std::string value;  // decoded value of an entry
  };
  static Line ParseLine(std::string raw);
  static Line EntryLine(std::string name, std::string value);

  std::vector<Line> lines_;
};

enum class IniField { kValue, kKey, kSection };
std::string EncodeIniText(std::string_view text, IniField field);
std::string DecodeIniText(std::string_view text);

// The form in which names are compared: case-folded when the name is valid UTF-8, else with
// ASCII letters lowered.
std::string FoldName(std::string_view name);

}  // namespace qelta
