#include "stats/stats.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <string_view>
#include <utility>

namespace qelta {

namespace {

// Closes the file when an operation ends, whichever way it ends.
class CloseGuard {
 public:
  explicit CloseGuard(StatsFile& file) : file_(file) {}
  ~CloseGuard() { file_.CloseStatsFile(); }
  CloseGuard(const CloseGuard&) = delete;
  CloseGuard& operator=(const CloseGuard&) = delete;

 private:
  StatsFile& file_;
};

uint32_t TimeOfRecord(const uint8_t* record) {
  return static_cast<uint32_t>(record[0]) | static_cast<uint32_t>(record[1]) << 8 |
         static_cast<uint32_t>(record[2]) << 16 | static_cast<uint32_t>(record[3]) << 24;
}

// Writes all of `size` bytes at `offset`; false on any failure.
bool WriteAllAt(int fd, const uint8_t* data, size_t size, off_t offset) {
  while (size > 0) {
    ssize_t written = pwrite(fd, data, size, offset);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (written == 0) return false;
    data += written;
    size -= static_cast<size_t>(written);
    offset += written;
  }
  return true;
}

// Reads up to `size` bytes at `offset`, stopping early only at the end of the file or on an
// error. Returns the number of bytes read.
size_t ReadUpTo(int fd, uint8_t* data, size_t size, off_t offset) {
  size_t done = 0;
  while (done < size) {
    ssize_t got = pread(fd, data + done, size - done, offset + static_cast<off_t>(done));
    if (got < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (got == 0) break;
    done += static_cast<size_t>(got);
  }
  return done;
}

int OpenWithRetry(const char* path, int flags, mode_t mode = 0) {
  int fd;
  do {
    fd = open(path, flags, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

}  // namespace

std::string StatsFilePathForExecutable(const std::string& exe_path) {
  size_t name_start = exe_path.rfind('/');
  name_start = name_start == std::string::npos ? 0 : name_start + 1;
  size_t dot = exe_path.rfind('.');
  if (dot != std::string::npos && dot > name_start) {
    return exe_path.substr(0, dot) + ".stats";
  }
  return exe_path + ".stats";
}

std::string RunningExecutablePath() {
  char buffer[PATH_MAX + 1];
  ssize_t length = readlink("/proc/self/exe", buffer, PATH_MAX);
  if (length <= 0) return {};
  std::string path(buffer, static_cast<size_t>(length));
  // An executable replaced while running (a new version installed) is still ours by name.
  static constexpr std::string_view kDeleted = " (deleted)";
  if (path.size() > kDeleted.size() && path.ends_with(kDeleted)) {
    path.resize(path.size() - kDeleted.size());
  }
  return path;
}

std::string DefaultStatsFilePath() {
  std::string exe = RunningExecutablePath();
  return exe.empty() ? std::string() : StatsFilePathForExecutable(exe);
}

StatsFile::StatsFile() : StatsFile(DefaultStatsFilePath()) {}

StatsFile::StatsFile(std::string path, size_t chunk_records)
    : path_(std::move(path)), chunk_records_(chunk_records > 0 ? chunk_records : 1) {}

StatsFile::~StatsFile() {
  CloseStatsFile();
}

bool StatsFile::OpenStatsFile() {
  if (StatsStream >= 0) return true;
  if (path_.empty()) return false;
  int fd = OpenWithRetry(path_.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) {
    // Create the file only if it is missing: an existing file is never cut short, whatever
    // made the first open fail (another opener may also have created it meanwhile).
    fd = OpenWithRetry(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) return false;
  }
  int locked;
  do {
    locked = flock(fd, LOCK_EX | LOCK_NB);
  } while (locked != 0 && errno == EINTR);
  if (locked != 0) {
    close(fd);
    return false;
  }
  StatsStream = fd;
  return true;
}

void StatsFile::CloseStatsFile() {
  if (StatsStream < 0) return;
  close(StatsStream);  // releases the lock as well
  StatsStream = -1;
}

void StatsFile::AppendStatsRecord(const TUPSStatusRaw& Sample) {
  if (!OpenStatsFile()) return;
  CloseGuard guard(*this);
  struct stat info;
  if (fstat(StatsStream, &info) != 0 || info.st_size < 0) return;
  const off_t size = info.st_size;
  const off_t end_of_records = size - size % static_cast<off_t>(kStatusRawSize);
  const StatusRawBytes bytes = EncodeStatusRaw(Sample);
  // A failed or partial write leaves at most a fragment, which the next append overwrites.
  WriteAllAt(StatsStream, bytes.data(), bytes.size(), end_of_records);
}

void StatsFile::ReadStatsRange(uint32_t FromTime, uint32_t ToTime, TUPSStatusRawData& Records) {
  if (!OpenStatsFile()) {
    Records.clear();
    return;
  }
  CloseGuard guard(*this);
  TUPSStatusRawData kept;
  struct stat info;
  if (fstat(StatsStream, &info) == 0 && info.st_size > 0) {
    const uint64_t whole = static_cast<uint64_t>(info.st_size) / kStatusRawSize;
    posix_fadvise(StatsStream, 0, 0, POSIX_FADV_SEQUENTIAL);
    const size_t chunk_bytes = chunk_records_ * kStatusRawSize;
    auto buffer = std::make_unique_for_overwrite<uint8_t[]>(chunk_bytes);
    uint64_t next = 0;
    while (next < whole) {
      const uint64_t count = std::min<uint64_t>(whole - next, chunk_records_);
      const size_t wanted = static_cast<size_t>(count) * kStatusRawSize;
      const size_t got =
          ReadUpTo(StatsStream, buffer.get(), wanted, static_cast<off_t>(next * kStatusRawSize));
      const size_t records = got / kStatusRawSize;
      for (size_t i = 0; i < records; ++i) {
        const uint8_t* record = buffer.get() + i * kStatusRawSize;
        const uint32_t t = TimeOfRecord(record);
        if (t != 0 && FromTime <= t && t <= ToTime) kept.push_back(DecodeStatusRaw(record));
      }
      if (got < wanted) break;  // read error, or the file got shorter meanwhile
      next += count;
    }
  }
  Records = std::move(kept);
}

TUPSStatusRawData StatsFile::ReadStatsRange(uint32_t FromTime, uint32_t ToTime) {
  TUPSStatusRawData records;
  ReadStatsRange(FromTime, ToTime, records);
  return records;
}

}  // namespace qelta
