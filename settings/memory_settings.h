#pragma once

#include <map>
#include <optional>
#include <string>

#include "settings/text_settings.h"

namespace qelta {

// Settings held in memory, with the same encodings and case rules as the stores on disk.
// Used where no file is wanted: tests, and components that need settings of their own.
class MemorySettings : public TextSettings {
 public:
  void DeleteValue(const std::string& section, const std::string& key) override;
  bool Has(const std::string& section, const std::string& key) const;

 protected:
  std::optional<std::string> Lookup(const std::string& section, const std::string& key) override;
  void Store(const std::string& section, const std::string& key, const std::string& text) override;

 private:
  static std::string Name(const std::string& section, const std::string& key);
  std::map<std::string, std::string> values_;
};

}  // namespace qelta
