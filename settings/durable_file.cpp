#include "settings/durable_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <vector>

namespace qelta {
namespace {

[[noreturn]] void ThrowErrno(const std::string& what, int error = errno) {
  throw std::system_error(error, std::generic_category(), what);
}

// Closes a descriptor when it goes out of scope.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  // Closes now and reports the result (close can report a failed write-back).
  int Close() {
    const int result = ::close(fd_);
    fd_ = -1;
    return result;
  }

 private:
  int fd_;
};

std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string TemporaryPrefix(const std::string& path) {
  return '.' + NameOf(path) + ".tmp-";
}

void WriteAll(int fd, std::string_view content, const std::string& path) {
  while (!content.empty()) {
    const ssize_t written = ::write(fd, content.data(), content.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      ThrowErrno("write " + path);
    }
    content.remove_prefix(static_cast<size_t>(written));
  }
}

void SyncFolder(const std::string& folder) {
  Descriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd.get() < 0) ThrowErrno("open " + folder);
  // Some file systems cannot sync a folder; their renames are as durable as they get.
  if (::fsync(fd.get()) != 0 && errno != EINVAL && errno != ENOTSUP) ThrowErrno("fsync " + folder);
}

}  // namespace

std::optional<std::string> ReadFileIfExists(const std::string& path) {
  // O_NONBLOCK keeps a pipe placed at the path from blocking the open.
  Descriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
  if (fd.get() < 0) {
    if (errno == ENOENT || errno == ENOTDIR) return std::nullopt;
    ThrowErrno("open " + path);
  }
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0) ThrowErrno("stat " + path);
  if (!S_ISREG(info.st_mode)) ThrowErrno("read " + path, S_ISDIR(info.st_mode) ? EISDIR : EINVAL);
  std::string content;
  std::vector<char> buffer(16384);
  for (;;) {
    const ssize_t got = ::read(fd.get(), buffer.data(), buffer.size());
    if (got < 0) {
      if (errno == EINTR) continue;
      ThrowErrno("read " + path);
    }
    if (got == 0) break;
    content.append(buffer.data(), static_cast<size_t>(got));
  }
  return content;
}

void MakeFolders(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) == 0) {
    if (S_ISDIR(info.st_mode)) return;
    ThrowErrno("mkdir " + path, ENOTDIR);
  }
  const std::string parent = FolderOf(path);
  if (parent != path && parent != "/" && parent != ".") MakeFolders(parent);
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) ThrowErrno("mkdir " + path);
  if (::stat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
    ThrowErrno("mkdir " + path, ENOTDIR);
}

void ReplaceFileDurably(const std::string& path, std::string_view content) {
  const std::string folder = FolderOf(path);
  std::string temporary = folder + '/' + TemporaryPrefix(path) + "XXXXXX";
  Descriptor fd(::mkostemp(temporary.data(), O_CLOEXEC));
  if (fd.get() < 0) ThrowErrno("create a temporary file in " + folder);
  try {
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
      if (::fchmod(fd.get(), info.st_mode & 07777) != 0) ThrowErrno("chmod " + temporary);
      // The file keeps its owner and group where this process may give them (root writing the
      // service's settings, readable by the service's group): otherwise the writer's own stay.
      if ((info.st_uid != ::geteuid() || info.st_gid != ::getegid()) &&
          ::fchown(fd.get(), info.st_uid, info.st_gid) != 0) {
        static_cast<void>(::fchown(fd.get(), static_cast<uid_t>(-1), info.st_gid));
      }
    }
    WriteAll(fd.get(), content, temporary);
    if (::fsync(fd.get()) != 0) ThrowErrno("fsync " + temporary);
    if (fd.Close() != 0) ThrowErrno("close " + temporary);
    if (::rename(temporary.c_str(), path.c_str()) != 0) ThrowErrno("rename to " + path);
  } catch (...) {
    ::unlink(temporary.c_str());
    throw;
  }
  SyncFolder(folder);
}

bool RemoveFileDurably(const std::string& path) {
  if (::unlink(path.c_str()) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) return false;
    ThrowErrno("unlink " + path);
  }
  SyncFolder(FolderOf(path));
  return true;
}

void RemoveStaleTemporaries(const std::string& path) {
  const std::string folder = FolderOf(path);
  const std::string prefix = TemporaryPrefix(path);
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return;
  std::vector<std::string> stale;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string_view name(entry->d_name);
    if (name.size() == prefix.size() + 6 && name.substr(0, prefix.size()) == prefix) {
      stale.emplace_back(name);
    }
  }
  ::closedir(dir);
  for (const std::string& name : stale) ::unlink((folder + '/' + name).c_str());
}

ExclusiveFileLock::ExclusiveFileLock(const std::string& lock_path) {
  fd_ = ::open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY, 0600);
  if (fd_ < 0) ThrowErrno("open " + lock_path);
  while (::flock(fd_, LOCK_EX) != 0) {
    if (errno == EINTR) continue;
    const int error = errno;
    ::close(fd_);
    ThrowErrno("lock " + lock_path, error);
  }
}

ExclusiveFileLock::~ExclusiveFileLock() {
  ::close(fd_);
}

}  // namespace qelta
