#pragma once

#include <sys/types.h>
#include <time.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "settings/ini_document.h"
#include "settings/text_settings.h"

namespace qelta {

// The program's settings: the INI file "$XDG_CONFIG_HOME/QELTA/QELTA MONITOR/1.0.ini", one
// [Section] per section and Key=value lines (format and escapes: IniDocument).
//
// Every read sees the file as it is now, so a change made by another process or in a text
// editor is seen at the next read. A read starts with one stat() of the file and keeps using
// the document it parsed last while that stat proves the file unchanged: the same device and
// inode, size, modification time and status-change time (both to the nanosecond). Every
// change of a file's content or name sets its status-change time to the present (no program
// can set it otherwise), so the proof holds when the parsed file's status-change time lay
// clearly in the past when it was read (kFreshFileSeconds, more than any file system's
// timestamp step): a later change cannot then carry the same time, however soon after the read
// it comes, even an in-place edit of the same size within the same second. A file read while
// it was younger than that is parsed again at every read until it is old enough. Reads need no
// lock because writers replace the file by renaming a complete new one over it.
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

  // How old (by its status-change time) the file must have been when it was read for its
  // parsed document to be kept.
  static constexpr int kFreshFileSeconds = 3;

  // The wall clock that the file's times are compared with; tests set another.
  using WallClockNow = std::function<timespec()>;
  void SetClockForTimes(WallClockNow now) { now_ = std::move(now); }

  const std::string& FilePath() const { return path_; }
  // How many times the file has been read and parsed (a statistic for tests and benchmarks).
  uint64_t FileReads() const { return file_reads_; }

  void DeleteValue(const std::string& section, const std::string& key) override;

 protected:
  std::optional<std::string> Lookup(const std::string& section, const std::string& key) override;
  void Store(const std::string& section, const std::string& key, const std::string& text) override;

 private:
  // The file's identity and times as stat() gives them.
  struct FileStamp {
    dev_t device;
    ino_t inode;
    off_t size;
    timespec modified;
    timespec changed;
    bool operator==(const FileStamp& other) const;
  };
  // The file's stamp; nullopt when there is no file; throws std::system_error when the stat
  // fails otherwise.
  std::optional<FileStamp> Stamp() const;
  const IniDocument& Load(const std::string& key_for_errors);
  // Applies `change` to the file under the lock; writes only when it reports a change.
  void Modify(const std::string& section, const std::string& key,
              const std::function<bool(IniDocument&)>& change);

  std::string folder_;
  std::string path_;
  std::string lock_path_;
  WallClockNow now_;
  IniDocument loaded_;
  // The stamp of the file that loaded_ was parsed from, while it proves the file unchanged.
  std::optional<FileStamp> loaded_stamp_;
  uint64_t file_reads_ = 0;
};

// The folder of the program's settings under the user's configuration folder.
std::string DefaultSettingsFolder();

}  // namespace qelta
