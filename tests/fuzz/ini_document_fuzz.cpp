// The INI document: read a text, make changes, write it, read it again; every value must read
// the same before and after the write, and a second write must give the same text.
//
// Input: the INI text, then optionally two NUL bytes and the changes, each one NUL-separated
// record "<op><section>\0<key>\0<value>\0" where <op> is 'R' for a removal and anything else
// for a write.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "settings/ini_document.h"

namespace {

using qelta::IniDocument;

std::string_view current_input;

[[noreturn]] void Fail(const char* what, std::string_view section = {}, std::string_view key = {}) {
  std::fprintf(stderr, "%s [section \"%.*s\", key \"%.*s\"] (input of %zu bytes)\n", what,
               static_cast<int>(section.size()), section.data(), static_cast<int>(key.size()),
               key.data(), current_input.size());
  std::abort();
}

struct Change {
  bool remove = false;
  std::string section;
  std::string key;
  std::string value;
};

std::vector<Change> ReadChanges(std::string_view rest) {
  std::vector<Change> changes;
  auto next = [&rest]() {
    const size_t end = rest.find('\0');
    const std::string field(rest.substr(0, end));
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    return field;
  };
  while (!rest.empty() && changes.size() < 16) {
    Change change;
    change.remove = rest.front() == 'R';
    rest.remove_prefix(1);
    change.section = next();
    change.key = next();
    change.value = next();
    changes.push_back(std::move(change));
  }
  return changes;
}

// Names that may occur in the text: what stands between "[" and "]" and before "=" on every
// line, trimmed and with its escapes read, with and without a line's trailing CR. A name that
// is not really in the document only finds nothing in both readings.
void CollectNames(std::string_view text, std::set<std::string>& sections,
                  std::set<std::string>& keys) {
  constexpr size_t kMaxNames = 24;
  while (!text.empty() && (sections.size() < kMaxNames || keys.size() < kMaxNames)) {
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    for (int cut = 0; cut < 2; ++cut) {
      if (cut == 1 && (line.empty() || line.back() != '\r')) break;
      if (cut == 1) line.remove_suffix(1);
      const size_t open = line.find('[');
      const size_t close = line.find(']', open == std::string_view::npos ? 0 : open + 1);
      if (open != std::string_view::npos && close != std::string_view::npos &&
          sections.size() < kMaxNames) {
        sections.insert(qelta::DecodeIniText(qelta::Trim(line.substr(open + 1, close - open - 1))));
      }
      const size_t equals = line.find('=');
      if (equals != std::string_view::npos && keys.size() < kMaxNames) {
        keys.insert(qelta::DecodeIniText(qelta::Trim(line.substr(0, equals))));
      }
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  current_input = input;
  const size_t split = input.find(std::string_view("\0\0", 2));
  const std::string_view text = input.substr(0, split);
  const std::vector<Change> changes = split == std::string_view::npos
                                          ? std::vector<Change>{}
                                          : ReadChanges(input.substr(split + 2));

  IniDocument document = IniDocument::Parse(text);
  std::set<std::string> sections;
  std::set<std::string> keys;
  CollectNames(text, sections, keys);

  for (const Change& change : changes) {
    if (change.remove) {
      document.Remove(change.section, change.key);
      if (document.Find(change.section, change.key)) Fail("a removed key is still found");
    } else {
      document.Set(change.section, change.key, change.value);
      if (document.Find(change.section, change.key) != change.value) {
        Fail("a written value does not read back", change.section, change.key);
      }
      if (!document.HasSection(change.section)) Fail("a written section is missing");
    }
    sections.insert(change.section);
    keys.insert(change.key);
  }

  const std::string written = document.Serialize();
  const IniDocument reread = IniDocument::Parse(written);
  for (const std::string& section : sections) {
    if (document.HasSection(section) != reread.HasSection(section)) {
      Fail("a section is read differently after the write", section);
    }
    for (const std::string& key : keys) {
      if (document.Find(section, key) != reread.Find(section, key)) {
        Fail("a value is read differently after the write", section, key);
      }
    }
  }
  if (reread.Serialize() != written) Fail("a second write changed the text");
  return 0;
}
