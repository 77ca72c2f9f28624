#include "settings/memory_settings.h"

#include <cctype>

namespace qelta {

std::string MemorySettings::Name(const std::string& section, const std::string& key) {
  std::string name = section + '\n' + key;
  for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return name;
}

std::optional<std::string> MemorySettings::Lookup(const std::string& section,
                                                  const std::string& key) {
  auto it = values_.find(Name(section, key));
  if (it == values_.end()) return std::nullopt;
  return it->second;
}

void MemorySettings::Store(const std::string& section, const std::string& key,
                           const std::string& text) {
  values_[Name(section, key)] = text;
}

void MemorySettings::DeleteValue(const std::string& section, const std::string& key) {
  values_.erase(Name(section, key));
}

bool MemorySettings::Has(const std::string& section, const std::string& key) const {
  return values_.count(Name(section, key)) != 0;
}

}  // namespace qelta
