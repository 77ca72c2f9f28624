#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>

namespace qelta {

// A failure of a store itself (a section that cannot be created, a value that cannot be set
// or read). It ends the running event handler and is shown by the application's error box.
class StoreError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
  // A failure of the file system: the file or folder that could not be written, and the
  // system's text for why.
  StoreError(const std::string& what, std::string path, std::string reason)
      : std::runtime_error(what), path_(std::move(path)), reason_(std::move(reason)) {}

  const std::string& path() const { return path_; }
  const std::string& reason() const { return reason_; }

 private:
  std::string path_;
  std::string reason_;
};

// A settings tree of sections and keys whose values are all stored as text: integers in
// signed decimal, booleans as "1"/"0". Every read takes the caller's default. Section and key
// names compare without regard to case. Nothing is cached: every read sees the store as it is
// now. Failures of the store throw StoreError.
class Settings {
 public:
  virtual ~Settings() = default;

  // The stored text when the value exists (an existing empty value gives ""), else `def`.
  virtual std::string ReadString(const std::string& section, const std::string& key,
                                 const std::string& def) = 0;
  // The stored text parsed as a signed 32-bit integer; `def` when missing, empty or not one.
  virtual int32_t ReadInteger(const std::string& section, const std::string& key, int32_t def) = 0;
  // Read as an integer with the default 1/0; true when that integer is not 0.
  virtual bool ReadBool(const std::string& section, const std::string& key, bool def) = 0;

  virtual void WriteString(const std::string& section, const std::string& key,
                           const std::string& value) = 0;
  virtual void WriteInteger(const std::string& section, const std::string& key, int32_t value) = 0;
  virtual void WriteBool(const std::string& section, const std::string& key, bool value) = 0;

  // Removes the value; nothing happens when the section or the value is missing.
  virtual void DeleteValue(const std::string& section, const std::string& key) = 0;
};

}  // namespace qelta
