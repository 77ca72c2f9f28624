#include "settings/memory_settings.h"

#include <cctype>

#include "settings/value_encoding.h"

namespace qelta {

std::string MemorySettings::Name(const std::string& section, const std::string& key) {
  std::string name = section + '\n' + key;
  for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return name;
}

std::string MemorySettings::ReadString(const std::string& section, const std::string& key,
                                       const std::string& def) {
  auto it = values_.find(Name(section, key));
  return it == values_.end() ? def : it->second;
}

int32_t MemorySettings::ReadInteger(const std::string& section, const std::string& key,
                                    int32_t def) {
  auto it = values_.find(Name(section, key));
  if (it == values_.end()) return def;
  return DecodeInteger(it->second).value_or(def);
}

bool MemorySettings::ReadBool(const std::string& section, const std::string& key, bool def) {
  return ReadInteger(section, key, def ? 1 : 0) != 0;
}

void MemorySettings::WriteString(const std::string& section, const std::string& key,
                                 const std::string& value) {
  values_[Name(section, key)] = value;
}

void MemorySettings::WriteInteger(const std::string& section, const std::string& key,
                                  int32_t value) {
  WriteString(section, key, EncodeInteger(value));
}

void MemorySettings::WriteBool(const std::string& section, const std::string& key, bool value) {
  WriteString(section, key, EncodeBool(value));
}

void MemorySettings::DeleteValue(const std::string& section, const std::string& key) {
  values_.erase(Name(section, key));
}

bool MemorySettings::Has(const std::string& section, const std::string& key) const {
  return values_.count(Name(section, key)) != 0;
}

}  // namespace qelta
