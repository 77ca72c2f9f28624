#include "settings/settings_store.h"

#include <sys/stat.h>

#include <cerrno>
#include <memory>
#include <system_error>

#include "settings/durable_file.h"
#include "settings/xdg_paths.h"

namespace qelta {

std::string DefaultSettingsFolder() {
  return XdgConfigHome() + "/QELTA/QELTA MONITOR";
}

SettingsStore::SettingsStore() : SettingsStore(DefaultSettingsFolder()) {}

namespace {

timespec RealTimeNow() {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  return now;
}

bool SameTime(const timespec& a, const timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// Nanoseconds from `from` to `to`.
int64_t NanosecondsBetween(const timespec& from, const timespec& to) {
  return (int64_t{to.tv_sec} - int64_t{from.tv_sec}) * 1'000'000'000 +
         (int64_t{to.tv_nsec} - int64_t{from.tv_nsec});
}

}  // namespace

SettingsStore::SettingsStore(std::string folder, std::string file_name)
    : folder_(std::move(folder)),
      path_(folder_ + '/' + file_name),
      lock_path_(path_ + ".lock"),
      now_(RealTimeNow) {}

bool SettingsStore::FileStamp::operator==(const FileStamp& other) const {
  return device == other.device && inode == other.inode && size == other.size &&
         SameTime(modified, other.modified) && SameTime(changed, other.changed);
}

std::optional<SettingsStore::FileStamp> SettingsStore::Stamp() const {
  struct stat info {};
  if (::stat(path_.c_str(), &info) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) return std::nullopt;
    throw std::system_error(errno, std::generic_category(), "stat " + path_);
  }
  // Only a regular file's content is kept; anything else is read (and refused) every time.
  if (!S_ISREG(info.st_mode)) return std::nullopt;
  return FileStamp{info.st_dev, info.st_ino, info.st_size, info.st_mtim, info.st_ctim};
}

const IniDocument& SettingsStore::Load(const std::string& key_for_errors) {
  try {
    const std::optional<FileStamp> before = Stamp();
    if (before && loaded_stamp_ && *before == *loaded_stamp_) return loaded_;
    loaded_stamp_.reset();
    const timespec read_at = now_();
    const std::optional<std::string> text = ReadFileIfExists(path_);
    ++file_reads_;
    loaded_ = IniDocument::Parse(text.value_or(std::string()));
    // Keep the document only when it is known to be the content of the stamped file (nothing
    // changed while it was read) and the file was old enough for no later change to carry
    // the same stamp.
    if (text && before &&
        NanosecondsBetween(before->changed, read_at) >=
            int64_t{kFreshFileSeconds} * 1'000'000'000) {
      const std::optional<FileStamp> after = Stamp();
      if (after && *after == *before) loaded_stamp_ = before;
    }
  } catch (const std::system_error&) {
    loaded_stamp_.reset();
    throw StoreError(GetDataFailure(key_for_errors));
  }
  return loaded_;
}

std::optional<std::string> SettingsStore::Lookup(const std::string& section,
                                                 const std::string& key) {
  return Load(key).Find(section, key);
}

void SettingsStore::Store(const std::string& section, const std::string& key,
                          const std::string& text) {
  Modify(section, key, [&](IniDocument& document) { return document.Set(section, key, text); });
}

void SettingsStore::DeleteValue(const std::string& section, const std::string& key) {
  // Nothing to delete leaves the disk untouched (no folder, file or lock is created).
  if (!Lookup(section, key)) return;
  Modify(section, key, [&](IniDocument& document) { return document.Remove(section, key); });
}

void SettingsStore::Modify(const std::string& section, const std::string& key,
                           const std::function<bool(IniDocument&)>& change) {
  try {
    MakeFolders(folder_);
  } catch (const std::system_error& e) {
    throw StoreError(CreateKeyFailure(folder_), folder_, e.code().message());
  }

  std::unique_ptr<ExclusiveFileLock> lock;
  std::string lock_failure;
  try {
    lock = std::make_unique<ExclusiveFileLock>(lock_path_);
  } catch (const std::system_error& e) {
    lock_failure = e.code().message();
  }

  std::optional<std::string> text;
  try {
    text = ReadFileIfExists(path_);
  } catch (const std::system_error& e) {
    // What cannot be read cannot be changed without losing the other values.
    throw StoreError(SetDataFailure(key), path_, e.code().message());
  }
  IniDocument document = IniDocument::Parse(text.value_or(std::string()));
  const std::string failure =
      document.HasSection(section) ? SetDataFailure(key) : CreateKeyFailure(section);
  if (!lock) throw StoreError(failure, lock_path_, lock_failure);

  if (!change(document)) return;
  RemoveStaleTemporaries(path_);
  try {
    ReplaceFileDurably(path_, document.Serialize());
  } catch (const std::system_error& e) {
    throw StoreError(failure, path_, e.code().message());
  }
}

}  // namespace qelta
