#include "install/install_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <filesystem>
#include <functional>

namespace qelta {
namespace {

namespace fs = std::filesystem;

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t written = ::write(fd, data, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    data += written;
    size -= static_cast<size_t>(written);
  }
  return true;
}

void SyncFolderOf(const std::string& path) {
  const int fd = ::open(fs::path(path).parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

// The temporary files beside `path`: its name, this suffix and six characters of mkostemp.
constexpr char kTemporarySuffix[] = ".new-";
constexpr size_t kTemporaryRandom = 6;

// Fills a new temporary file beside `path` through `fill`, gives it `mode`, flushes it and
// renames it over `path`. The temporary file goes when anything fails.
bool ReplaceThroughTemporary(const std::string& path, mode_t mode,
                             const std::function<bool(int)>& fill) {
  std::string temporary = path + kTemporarySuffix + std::string(kTemporaryRandom, 'X');
  const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) return false;
  const bool written = fill(fd) && ::fchmod(fd, mode) == 0 && ::fsync(fd) == 0;
  const bool closed = ::close(fd) == 0;
  if (!written || !closed || ::rename(temporary.c_str(), path.c_str()) != 0) {
    ::unlink(temporary.c_str());
    return false;
  }
  SyncFolderOf(path);
  return true;
}

}  // namespace

bool LocalInstallFiles::MakeFolders(const std::string& path) {
  if (path.empty()) return false;
  std::error_code error;
  fs::create_directories(path, error);
  return fs::is_directory(path, error);
}

bool LocalInstallFiles::Exists(const std::string& path) {
  std::error_code error;
  return !path.empty() && fs::exists(fs::symlink_status(path, error));
}

bool LocalInstallFiles::SameFile(const std::string& a, const std::string& b) {
  std::error_code error;
  return !a.empty() && !b.empty() && fs::equivalent(a, b, error) && !error;
}

bool LocalInstallFiles::FolderWritable(const std::string& path) {
  return !path.empty() && ::access(path.c_str(), W_OK | X_OK) == 0;
}

bool LocalInstallFiles::Remove(const std::string& path) {
  std::error_code error;
  return !path.empty() && fs::remove(path, error) && !error;
}

bool LocalInstallFiles::RemoveEmptyFolder(const std::string& path) {
  return !path.empty() && ::rmdir(path.c_str()) == 0;
}

bool LocalInstallFiles::Rename(const std::string& from, const std::string& to) {
  return ::rename(from.c_str(), to.c_str()) == 0;
}

bool LocalInstallFiles::CopyReplacing(const std::string& from, const std::string& to) {
  const int source = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (source < 0) return false;
  struct stat info {};
  if (::fstat(source, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(source);
    return false;
  }
  const bool copied = ReplaceThroughTemporary(to, info.st_mode & 07777, [source](int target) {
    char buffer[64 * 1024];
    for (;;) {
      const ssize_t got = ::read(source, buffer, sizeof buffer);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) return false;
      if (got == 0) return true;
      if (!WriteAll(target, buffer, static_cast<size_t>(got))) return false;
    }
  });
  ::close(source);
  return copied;
}

bool LocalInstallFiles::WriteFile(const std::string& path, std::string_view content) {
  return ReplaceThroughTemporary(path, 0644, [content](int target) {
    return WriteAll(target, content.data(), content.size());
  });
}

int LocalInstallFiles::RemoveStaleTemporaries(const std::string& path, std::time_t made_before) {
  const fs::path target(path);
  const std::string prefix = target.filename().string() + kTemporarySuffix;
  if (target.filename().empty()) return 0;
  std::error_code error;
  int removed = 0;
  for (fs::directory_iterator it(target.parent_path(), error), end; !error && it != end;
       it.increment(error)) {
    const std::string name = it->path().filename().string();
    if (name.size() != prefix.size() + kTemporaryRandom || !name.starts_with(prefix)) continue;
    bool random_part = true;
    for (size_t i = prefix.size(); i < name.size(); ++i) {
      const unsigned char c = static_cast<unsigned char>(name[i]);
      random_part &= std::isalnum(c) != 0;
    }
    struct stat info;
    // Never through a link, never another user's file, never one that is being written now.
    if (!random_part || ::lstat(it->path().c_str(), &info) != 0 || !S_ISREG(info.st_mode) ||
        info.st_uid != ::geteuid() || info.st_mtime >= made_before) {
      continue;
    }
    if (::unlink(it->path().c_str()) == 0) ++removed;
  }
  return removed;
}

}  // namespace qelta
