#include "settings/text_settings.h"

#include "settings/value_encoding.h"

namespace qelta {

std::string TextSettings::ReadString(const std::string& section, const std::string& key,
                                     const std::string& def) {
  return Lookup(section, key).value_or(def);
}

int32_t TextSettings::ReadInteger(const std::string& section, const std::string& key, int32_t def) {
  const std::optional<std::string> text = Lookup(section, key);
  if (!text) return def;
  return DecodeInteger(*text).value_or(def);
}

bool TextSettings::ReadBool(const std::string& section, const std::string& key, bool def) {
  return ReadInteger(section, key, def ? 1 : 0) != 0;
}

void TextSettings::WriteString(const std::string& section, const std::string& key,
                               const std::string& value) {
  Store(section, key, value);
}

void TextSettings::WriteInteger(const std::string& section, const std::string& key, int32_t value) {
  Store(section, key, EncodeInteger(value));
}

void TextSettings::WriteBool(const std::string& section, const std::string& key, bool value) {
  Store(section, key, EncodeBool(value));
}

std::string TextSettings::CreateKeyFailure(const std::string& name) {
  return "Failed to create key " + name;
}

std::string TextSettings::SetDataFailure(const std::string& key) {
  return "Failed to set data for '" + key + "'";
}

std::string TextSettings::GetDataFailure(const std::string& key) {
  return "Failed to get data for '" + key + "'";
}

}  // namespace qelta
