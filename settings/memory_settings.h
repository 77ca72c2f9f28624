#pragma once

#include <map>
#include <string>

#include "settings/settings.h"

namespace qelta {

// Settings held in memory, with the same encodings and case rules as the stores on disk.
// Used where no file is wanted: tests, and components that need settings of their own.
class MemorySettings : public Settings {
 public:
  std::string ReadString(const std::string& section, const std::string& key,
                         const std::string& def) override;
  int32_t ReadInteger(const std::string& section, const std::string& key, int32_t def) override;
  bool ReadBool(const std::string& section, const std::string& key, bool def) override;
  void WriteString(const std::string& section, const std::string& key,
                   const std::string& value) override;
  void WriteInteger(const std::string& section, const std::string& key, int32_t value) override;
  void WriteBool(const std::string& section, const std::string& key, bool value) override;
  void DeleteValue(const std::string& section, const std::string& key) override;

  bool Has(const std::string& section, const std::string& key) const;

 private:
  static std::string Name(const std::string& section, const std::string& key);
  std::map<std::string, std::string> values_;
};

}  // namespace qelta
