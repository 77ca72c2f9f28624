#pragma once

#include <optional>
#include <string>

#include "settings/settings.h"

namespace qelta {

// The reads and writes of Settings expressed over a store of texts: the store supplies
// Lookup and Store, this class applies the encodings and the callers' defaults.
class TextSettings : public Settings {
 public:
  std::string ReadString(const std::string& section, const std::string& key,
                         const std::string& def) override;
  int32_t ReadInteger(const std::string& section, const std::string& key, int32_t def) override;
  bool ReadBool(const std::string& section, const std::string& key, bool def) override;
  void WriteString(const std::string& section, const std::string& key,
                   const std::string& value) override;
  void WriteInteger(const std::string& section, const std::string& key, int32_t value) override;
  void WriteBool(const std::string& section, const std::string& key, bool value) override;

 protected:
  // The stored text, or nullopt when the value does not exist.
  virtual std::optional<std::string> Lookup(const std::string& section, const std::string& key) = 0;
  virtual void Store(const std::string& section, const std::string& key,
                     const std::string& text) = 0;

  // The texts of the store's failures.
  static std::string CreateKeyFailure(const std::string& name);
  static std::string SetDataFailure(const std::string& key);
  static std::string GetDataFailure(const std::string& key);
};

}  // namespace qelta
