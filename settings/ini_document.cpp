#include "settings/ini_document.h"

#include <QString>

#include <algorithm>

namespace qelta {

std::string_view Trim(std::string_view text) {
  const size_t begin = text.find_first_not_of(" \t");
  if (begin == std::string_view::npos) return {};
  const size_t end = text.find_last_not_of(" \t");
  return text.substr(begin, end - begin + 1);
}

namespace {

constexpr std::string_view kBlanks = " \t";

bool IsContinuation(unsigned char c) {
  return (c & 0xC0) == 0x80;
}

// Length of the valid UTF-8 sequence that starts at text[i], or 0 when there is none.
size_t Utf8SequenceLength(std::string_view text, size_t i) {
  const auto at = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char c = at(i);
  size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
  if (c >= 0xC2 && c <= 0xDF) {
    length = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    length = 3;
    if (c == 0xE0) low = 0xA0;   // no overlong forms
    if (c == 0xED) high = 0x9F;  // no surrogates
  } else if (c >= 0xF0 && c <= 0xF4) {
    length = 4;
    if (c == 0xF0) low = 0x90;
    if (c == 0xF4) high = 0x8F;  // nothing above U+10FFFF
  } else {
    return 0;
  }
  if (i + length > text.size()) return 0;
  if (at(i + 1) < low || at(i + 1) > high) return 0;
  for (size_t k = 2; k < length; ++k) {
    if (!IsContinuation(at(i + k))) return 0;
  }
  return length;
}

bool IsValidUtf8(std::string_view text) {
  for (size_t i = 0; i < text.size();) {
    if (static_cast<unsigned char>(text[i]) < 0x80) {
      ++i;
      continue;
    }
    const size_t length = Utf8SequenceLength(text, i);
    if (length == 0) return false;
    i += length;
  }
  return true;
}

void AppendHex(std::string& out, unsigned char c) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  out += "\\x";
  out += kDigits[c >> 4];
  out += kDigits[c & 0x0F];
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string EncodeIniText(std::string_view text, IniField field) {
  size_t lead = 0;
  while (lead < text.size() && text[lead] == ' ') ++lead;
  size_t trail = text.size();
  while (trail > lead && text[trail - 1] == ' ') --trail;

  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == ' ' && (i < lead || i >= trail)) {
      out += "\\s";
      ++i;
      continue;
    }
    switch (c) {
      case '\\':
        out += "\\\\";
        ++i;
        continue;
      case '\n':
        out += "\\n";
        ++i;
        continue;
      case '\r':
        out += "\\r";
        ++i;
        continue;
      case '\t':
        out += "\\t";
        ++i;
        continue;
      default:
        break;
    }
    const bool special =
        c < 0x20 || c == 0x7F ||
        (field == IniField::kKey && (c == '=' || (i == 0 && (c == '[' || c == ';' || c == '#')))) ||
        (field == IniField::kSection && c == ']');
    if (special) {
      AppendHex(out, c);
      ++i;
      continue;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
      ++i;
      continue;
    }
    const size_t length = Utf8SequenceLength(text, i);
    // C1 control characters (U+0080..U+009F) are valid UTF-8 but invisible in an editor.
    const bool c1_control =
        length == 2 && c == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0;
    if (length == 0 || c1_control) {
      AppendHex(out, c);
      ++i;
      continue;
    }
    out.append(text.substr(i, length));
    i += length;
  }
  return out;
}

std::string DecodeIniText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c != '\\' || i + 1 >= text.size()) {
      out += c;
      continue;
    }
    switch (text[i + 1]) {
      case '\\':
        out += '\\';
        ++i;
        break;
      case 'n':
        out += '\n';
        ++i;
        break;
      case 'r':
        out += '\r';
        ++i;
        break;
      case 't':
        out += '\t';
        ++i;
        break;
      case 's':
        out += ' ';
        ++i;
        break;
      case 'x': {
        const int high = i + 2 < text.size() ? HexValue(text[i + 2]) : -1;
        const int low = i + 3 < text.size() ? HexValue(text[i + 3]) : -1;
        if (high >= 0 && low >= 0) {
          out += static_cast<char>(high * 16 + low);
          i += 3;
        } else {
          out += '\\';
        }
        break;
      }
      default:
        out += '\\';
        break;
    }
  }
  return out;
}

std::string FoldName(std::string_view name) {
  const bool ascii = std::all_of(name.begin(), name.end(),
                                 [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  if (!ascii && IsValidUtf8(name)) {
    return QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()))
        .toCaseFolded()
        .toStdString();
  }
  std::string folded(name);
  for (char& c : folded) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return folded;
}

IniDocument::Line IniDocument::ParseLine(std::string raw) {
  Line line;
  const size_t begin = raw.find_first_not_of(kBlanks);
  if (begin != std::string::npos && raw[begin] != ';' && raw[begin] != '#') {
    const std::string_view text(raw);
    if (raw[begin] == '[') {
      const size_t close = raw.find(']', begin + 1);
      if (close != std::string::npos) {
        line.kind = Kind::kSection;
        line.name = DecodeIniText(Trim(text.substr(begin + 1, close - begin - 1)));
      }
    } else if (const size_t equals = raw.find('=', begin); equals != std::string::npos) {
      line.kind = Kind::kEntry;
      line.name = DecodeIniText(Trim(text.substr(begin, equals - begin)));
      line.value = DecodeIniText(Trim(text.substr(equals + 1)));
    }
  }
  line.raw = std::move(raw);
  return line;
}

IniDocument::Line IniDocument::EntryLine(std::string name, std::string value) {
  Line line;
  line.kind = Kind::kEntry;
  line.raw = EncodeIniText(name, IniField::kKey) + '=' + EncodeIniText(value, IniField::kValue);
  line.name = std::move(name);
  line.value = std::move(value);
  return line;
}

IniDocument IniDocument::Parse(std::string_view text) {
  // Every mark at the start goes: a file saved twice by an editor that adds one may carry two,
  // and a line left beginning with one would not be read as what it says.
  static constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
  while (text.substr(0, kByteOrderMark.size()) == kByteOrderMark) {
    text.remove_prefix(kByteOrderMark.size());
  }
  // Lines end at LF, at CRs followed by LF (CR LF, and CR CR LF from a CR LF text written
  // once more in text mode) or at a CR followed by anything else. No line keeps a CR or LF of
  // its own, so the rewrite (LF after every line) reads back line for line.
  IniDocument document;
  while (!text.empty()) {
    const size_t end = text.find_first_of("\r\n");
    document.lines_.push_back(ParseLine(std::string(text.substr(0, end))));
    if (end == std::string_view::npos) break;
    size_t next = end;
    while (next < text.size() && text[next] == '\r') ++next;
    if (next < text.size() && text[next] == '\n') {
      ++next;
    } else {
      next = end + 1;  // a CR of its own ends one line
    }
    text.remove_prefix(next);
  }
  return document;
}

std::string IniDocument::Serialize() const {
  std::string text;
  for (const Line& line : lines_) {
    text += line.raw;
    text += '\n';
  }
  return text;
}

std::optional<std::string> IniDocument::Find(std::string_view section, std::string_view key) const {
  const std::string folded_section = FoldName(section);
  const std::string folded_key = FoldName(key);
  bool inside = false;
  for (const Line& line : lines_) {
    if (line.kind == Kind::kSection) {
      inside = FoldName(line.name) == folded_section;
    } else if (inside && line.kind == Kind::kEntry && FoldName(line.name) == folded_key) {
      return line.value;
    }
  }
  return std::nullopt;
}

bool IniDocument::HasSection(std::string_view section) const {
  const std::string folded_section = FoldName(section);
  for (const Line& line : lines_) {
    if (line.kind == Kind::kSection && FoldName(line.name) == folded_section) return true;
  }
  return false;
}

std::vector<std::string> IniDocument::Sections() const {
  std::vector<std::string> names;
  for (const Line& line : lines_) {
    if (line.kind == Kind::kSection) names.push_back(line.name);
  }
  return names;
}

std::vector<IniEntry> IniDocument::Entries() const {
  std::vector<IniEntry> entries;
  std::optional<std::string> section;
  for (const Line& line : lines_) {
    if (line.kind == Kind::kSection) {
      section = line.name;
    } else if (line.kind == Kind::kEntry) {
      entries.push_back({section, line.name, line.value});
    }
  }
  return entries;
}

bool IniDocument::Set(std::string_view section, std::string_view key, std::string_view value) {
  const std::string folded_section = FoldName(section);
  const std::string folded_key = FoldName(key);

  // Replace the first occurrence of the key, drop any later one.
  bool inside = false;
  bool found = false;
  bool changed = false;
  for (auto it = lines_.begin(); it != lines_.end();) {
    if (it->kind == Kind::kSection) {
      inside = FoldName(it->name) == folded_section;
    } else if (inside && it->kind == Kind::kEntry && FoldName(it->name) == folded_key) {
      if (found) {
        it = lines_.erase(it);
        changed = true;
        continue;
      }
      found = true;
      if (it->value != value) {
        *it = EntryLine(it->name, std::string(value));
        changed = true;
      }
    }
    ++it;
  }
  if (found) return changed;

  // A new key goes after the last entry of the first occurrence of its section.
  for (size_t header = 0; header < lines_.size(); ++header) {
    if (lines_[header].kind != Kind::kSection || FoldName(lines_[header].name) != folded_section) {
      continue;
    }
    size_t insert_at = header + 1;
    for (size_t i = header + 1; i < lines_.size() && lines_[i].kind != Kind::kSection; ++i) {
      if (lines_[i].kind == Kind::kEntry) insert_at = i + 1;
    }
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(insert_at),
                  EntryLine(std::string(key), std::string(value)));
    return true;
  }

  // A new section goes at the end, after a blank line.
  if (!lines_.empty() && !Trim(lines_.back().raw).empty()) lines_.push_back(Line{});
  Line header;
  header.kind = Kind::kSection;
  header.name = std::string(section);
  header.raw = '[' + EncodeIniText(section, IniField::kSection) + ']';
  lines_.push_back(std::move(header));
  lines_.push_back(EntryLine(std::string(key), std::string(value)));
  return true;
}

bool IniDocument::Remove(std::string_view section, std::string_view key) {
  const std::string folded_section = FoldName(section);
  const std::string folded_key = FoldName(key);
  bool inside = false;
  bool changed = false;
  for (auto it = lines_.begin(); it != lines_.end();) {
    if (it->kind == Kind::kSection) {
      inside = FoldName(it->name) == folded_section;
    } else if (inside && it->kind == Kind::kEntry && FoldName(it->name) == folded_key) {
      it = lines_.erase(it);
      changed = true;
      continue;
    }
    ++it;
  }
  return changed;
}

}  // namespace qelta
