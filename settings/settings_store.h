#pragma once

#include <functional>
#include <optional>
#include <string>

#include "settings/ini_document.h"
#include "settings/text_settings.h"

namespace qelta {

// The program's settings: the INI file "$XDG_CONFIG_HOME/QELTA/QELTA MONITOR/1.0.ini", one
// [Section] per section and Key=value lines (format and escapes: IniDocument).
//
// Nothing is cached: every read opens and parses the file, so a change made by another process
// or in a text editor is seen at the next read. Reads need no lock because writers replace the
// file by renaming a complete new one over it.
//
// Every write (and every delete that removes something) holds an exclusive lock on
// "<file>.lock" beside the file around its read-modify-write, so writers in several processes
// lose none of each other's values, and is on disk when it returns (ReplaceFileDurably). The
// folder is created by the first write.
//
// Failures throw StoreError:
//   "Failed to create key <folder>"   the folder cannot be created;
//   "Failed to create key <Section>"  a write that adds a new section cannot be stored;
//   "Failed to set data for '<Key>'"  a write (or delete) in an existing section cannot be
//                                     stored, or the file cannot be read to be changed;
//   "Failed to get data for '<Key>'"  the file exists but cannot be read.
// A failed write leaves the file as it was; the store stays usable.
class SettingsStore : public TextSettings {
 public:
  // The store at its usual place under the user's configuration folder.
  SettingsStore();
  // The store in another folder (tests, private demo folders).
  explicit SettingsStore(std::string folder, std::string file_name = "1.0.ini");

  const std::string& FilePath() const { return path_; }

  void DeleteValue(const std::string& section, const std::string& key) override;

 protected:
  std::optional<std::string> Lookup(const std::string& section, const std::string& key) override;
  void Store(const std::string& section, const std::string& key, const std::string& text) override;

 private:
  IniDocument Load(const std::string& key_for_errors);
  // Applies `change` to the file under the lock; writes only when it reports a change.
  void Modify(const std::string& section, const std::string& key,
              const std::function<bool(IniDocument&)>& change);

  std::string folder_;
  std::string path_;
  std::string lock_path_;
};

// The folder of the program's settings under the user's configuration folder.
std::string DefaultSettingsFolder();

}  // namespace qelta
