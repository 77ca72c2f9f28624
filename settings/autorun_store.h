#pragma once

#include <optional>
#include <string>

#include "settings/text_settings.h"

namespace qelta {

// Start at log-on: the XDG autostart entry "$XDG_CONFIG_HOME/autostart/QELTA MONITOR.desktop".
// Its one value, `Run`/"QELTA MONITOR" (names compared without regard to case), is the full
// path of the executable that the desktop starts at log-on:
//   - reading gives the program of the entry's Exec line, unquoted; the default when there is
//     no entry, the entry has no Exec, or the desktop has switched it off (Hidden=true or
//     X-GNOME-Autostart-enabled=false);
//   - writing replaces the whole entry (atomically and durably), the path quoted and escaped
//     as desktop entries require; writing an empty text removes the entry;
//   - deleting removes the entry; a missing entry is left alone.
// Every other section and key reads as the default and is never stored: a write to one throws
// StoreError "Failed to set data for '<key>'", deleting one does nothing.
// Failures: "Failed to create key <folder>" when the autostart folder cannot be created,
// "Failed to set data for '<key>'" when the entry cannot be written or removed,
// "Failed to get data for '<key>'" when an existing entry cannot be read.
class AutorunStore : public TextSettings {
 public:
  AutorunStore();
  explicit AutorunStore(std::string autostart_folder);

  const std::string& EntryPath() const { return path_; }

  void DeleteValue(const std::string& section, const std::string& key) override;

 protected:
  std::optional<std::string> Lookup(const std::string& section, const std::string& key) override;
  void Store(const std::string& section, const std::string& key, const std::string& text) override;

 private:
  static bool IsRunValue(const std::string& section, const std::string& key);

  std::string folder_;
  std::string path_;
};

// The Exec value that starts `program` without arguments, and the program of an Exec value
// (its first argument), both in the desktop entry's encoding (quoting, '%' and string escapes).
std::string DesktopExecFor(const std::string& program);
// True when a desktop entry can name the path: valid UTF-8 (the entry's encoding) without the
// replacement character, which shows that a name went through a lossy conversion.
bool FitsDesktopEntry(const std::string& path);
std::string ProgramOfDesktopExec(const std::string& exec);

}  // namespace qelta
