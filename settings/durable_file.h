#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qelta {

// File operations for small files that must never be seen half-written. They throw
// std::system_error (with the errno of the failing call) on failure.

// The whole content of a regular file; nullopt when the file or one of its folders does not
// exist. Anything else at the path (a folder, a device, a pipe) is an error.
std::optional<std::string> ReadFileIfExists(const std::string& path);

// Creates the folder and every missing parent.
void MakeFolders(const std::string& path);

// Replaces the file's content so that, whatever happens meanwhile (a crash, a kill, a power
// loss), the path holds either the old or the new content: the new content goes into a
// temporary file in the same folder, which is flushed to disk and renamed over the path, and
// the folder is flushed after the rename. An existing file's permissions are kept; a new file
// is readable and writable by its owner only.
void ReplaceFileDurably(const std::string& path, std::string_view content);

// Removes the file and flushes its folder. Returns false when there was no file.
bool RemoveFileDurably(const std::string& path);

// Removes temporary files that ReplaceFileDurably left behind for `path` when its process was
// killed. Only safe while the caller holds the lock that every writer of `path` takes.
// Failures are ignored.
void RemoveStaleTemporaries(const std::string& path);

// An exclusive advisory lock (flock) on a lock file, created when missing; held until
// destruction. Blocks until the lock is free. A process that dies releases its locks.
class ExclusiveFileLock {
 public:
  explicit ExclusiveFileLock(const std::string& lock_path);
  ~ExclusiveFileLock();
  ExclusiveFileLock(const ExclusiveFileLock&) = delete;
  ExclusiveFileLock& operator=(const ExclusiveFileLock&) = delete;

 private:
  int fd_ = -1;
};

}  // namespace qelta
