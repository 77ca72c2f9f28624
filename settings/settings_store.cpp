#include "settings/settings_store.h"

#include <memory>
#include <system_error>

#include "settings/durable_file.h"
#include "settings/xdg_paths.h"

namespace qelta {

std::string DefaultSettingsFolder() {
  return XdgConfigHome() + "/QELTA/QELTA MONITOR";
}

SettingsStore::SettingsStore() : SettingsStore(DefaultSettingsFolder()) {}

SettingsStore::SettingsStore(std::string folder, std::string file_name)
    : folder_(std::move(folder)), path_(folder_ + '/' + file_name), lock_path_(path_ + ".lock") {}

IniDocument SettingsStore::Load(const std::string& key_for_errors) {
  std::optional<std::string> text;
  try {
    text = ReadFileIfExists(path_);
  } catch (const std::system_error&) {
    throw StoreError(GetDataFailure(key_for_errors));
  }
  return IniDocument::Parse(text.value_or(std::string()));
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
  } catch (const std::system_error&) {
    throw StoreError(CreateKeyFailure(folder_));
  }

  std::unique_ptr<ExclusiveFileLock> lock;
  bool locked = true;
  try {
    lock = std::make_unique<ExclusiveFileLock>(lock_path_);
  } catch (const std::system_error&) {
    locked = false;
  }

  std::optional<std::string> text;
  try {
    text = ReadFileIfExists(path_);
  } catch (const std::system_error&) {
    // What cannot be read cannot be changed without losing the other values.
    throw StoreError(SetDataFailure(key));
  }
  IniDocument document = IniDocument::Parse(text.value_or(std::string()));
  const std::string failure =
      document.HasSection(section) ? SetDataFailure(key) : CreateKeyFailure(section);
  if (!locked) throw StoreError(failure);

  if (!change(document)) return;
  RemoveStaleTemporaries(path_);
  try {
    ReplaceFileDurably(path_, document.Serialize());
  } catch (const std::system_error&) {
    throw StoreError(failure);
  }
}

}  // namespace qelta
