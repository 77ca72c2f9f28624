#include "stats/stats.h"

#include "stats/stats_index_file.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
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

enum class Lease {
  kHeld,           // no one else has the file open until it is released
  kOpenElsewhere,  // someone else has the file open now
  kUnavailable,    // the file system has no leases, or the file is another user's
};

// Makes `fd` the only open of its file for as long as the lease is held: an open of the file
// by anyone else waits until it is released (or fails at once when non-blocking). Nothing is
// held unless kHeld. A lease being broken would signal the holder: the signal is set to one
// that is ignored unless handled, then to no one at all.
Lease TakeSoleOpenLease(int fd) {
  if (fcntl(fd, F_SETSIG, SIGURG) != 0) return Lease::kUnavailable;
  if (fcntl(fd, F_SETLEASE, F_WRLCK) != 0) {
    return errno == EAGAIN || errno == EBUSY ? Lease::kOpenElsewhere : Lease::kUnavailable;
  }
  fcntl(fd, F_SETOWN, 0);
  return Lease::kHeld;
}

void ReleaseLease(int fd) {
  fcntl(fd, F_SETLEASE, F_UNLCK);
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

std::string StatsFilePathFor(const std::string& exe_path, bool exe_folder_writable,
                             const std::string& data_home) {
  if (exe_folder_writable) return StatsFilePathForExecutable(exe_path);
  if (data_home.empty()) return {};
  return data_home + "/QELTA/qelta-monitor.stats";
}

std::string UserDataHome() {
  const char* configured = std::getenv("XDG_DATA_HOME");
  if (configured != nullptr && configured[0] == '/') return configured;
  const char* home = std::getenv("HOME");
  if (home == nullptr || home[0] != '/') return {};
  return std::string(home) + "/.local/share";
}

std::string DefaultStatsFilePath() {
  const std::string exe = RunningExecutablePath();
  if (exe.empty()) return {};
  const size_t slash = exe.rfind('/');
  const std::string folder = slash == 0 ? "/" : exe.substr(0, slash);
  const bool writable = access(folder.c_str(), W_OK) == 0;
  const std::string path = StatsFilePathFor(exe, writable, UserDataHome());
  if (!writable && !path.empty()) {
    // A folder that cannot be made shows when the file cannot be opened: no sample is then
    // recorded, as with any other failure to open it.
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
  }
  return path;
}

StatsFile::StatsFile() : StatsFile(DefaultStatsFilePath()) {}

StatsFile::StatsFile(std::string path, size_t chunk_records, size_t block_records)
    : path_(std::move(path)),
      chunk_records_(chunk_records > 0 ? chunk_records : 1),
      block_records_(block_records > 0 ? block_records : 1) {}

StatsFile::~StatsFile() {
  CloseStatsFile();
}

bool StatsFile::OpenStatsFile() {
  if (StatsStream >= 0) return true;
  if (path_.empty()) return false;
  // Non-blocking, so that a FIFO or a device in the file's place cannot hold the open; only a
  // regular file is used.
  int fd = OpenWithRetry(path_.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    // Create the file only if it is missing: an existing file is never cut short, whatever
    // made the first open fail (another opener may also have created it meanwhile).
    fd = OpenWithRetry(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0666);
    if (fd < 0) return false;
  }
  struct stat info;
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    return false;
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
  {
    std::lock_guard queue(queue_mutex_);
    if (!operation_.try_lock()) {
      // An operation is under way on another thread (a read of the whole file can take
      // long): it writes this sample when it ends (EndOperation), after what it read.
      queued_.push_back(Sample);
      return;
    }
  }
  AppendHeld(Sample);
  EndOperation();
}

size_t StatsFile::queued_appends() const {
  std::lock_guard queue(queue_mutex_);
  return queued_.size();
}

void StatsFile::EndOperation() {
  for (;;) {
    std::vector<TUPSStatusRaw> queued;
    {
      std::lock_guard queue(queue_mutex_);
      if (queued_.empty()) {
        // Released with the queue locked: an append either was queued before and is written
        // above, or finds the lock free.
        operation_.unlock();
        return;
      }
      queued.swap(queued_);
    }
    for (const TUPSStatusRaw& sample : queued) AppendHeld(sample);
  }
}

void StatsFile::AppendHeld(const TUPSStatusRaw& Sample) {
  if (!OpenStatsFile()) return;
  CloseGuard guard(*this);
  // Someone who writes without taking the lock, between the time stamps taken before and
  // after the write, would go unseen: the stamps after tell only that the file changed. So a
  // summary is brought forward only while no one else has the file open: anyone opening it
  // meanwhile waits until the append is done, and their change then shows in the stamps.
  // Where no lease can be had at all, the summary is brought forward as before, so that
  // reads after appends do not read the whole file each time.
  const Lease lease = TakeSoleOpenLease(StatsStream);
  struct LeaseGuard {
    int fd;
    bool held;
    ~LeaseGuard() {
      if (held) ReleaseLease(fd);
    }
  } lease_guard{StatsStream, lease == Lease::kHeld};
  struct stat info;
  if (fstat(StatsStream, &info) != 0 || info.st_size < 0) return;
  const off_t size = info.st_size;
  const off_t end_of_records = size - size % static_cast<off_t>(kStatusRawSize);
  const StatusRawBytes bytes = EncodeStatusRaw(Sample);
  // A failed or partial write leaves at most a fragment, which the next append overwrites.
  const bool written = WriteAllAt(StatsStream, bytes.data(), bytes.size(), end_of_records);
  AfterRecordWritten();
  if (written && lease != Lease::kOpenElsewhere) {
    VouchForAppend(IdentityOf(info), static_cast<uint64_t>(end_of_records), bytes);
  }
}

void StatsFile::VouchForAppend(const FileIdentity& before, uint64_t written_at,
                               const StatusRawBytes& written) {
  // Nothing but bytes at or after the end of the last whole record was written: a summary
  // of the file as it was before still describes every block it covers. That holds only if
  // the file now ends with the record as it was written.
  struct stat info;
  if (fstat(StatsStream, &info) != 0) return;
  const FileIdentity after = IdentityOf(info);
  if (after.device != before.device || after.inode != before.inode ||
      after.size != written_at + kStatusRawSize) {
    return;
  }
  StatusRawBytes there{};
  if (pread(StatsStream, there.data(), there.size(), static_cast<off_t>(written_at)) !=
          static_cast<ssize_t>(there.size()) ||
      there != written) {
    return;
  }
  if (index_ && index_->identity == before) index_->identity = after;
  if (VouchForAppendInIndexFile(IndexFilePathFor(path_), before, after)) {
    side_file_identity_ = after;
  }
}

size_t StatsFile::ChooseIndex(const FileIdentity& now) {
  last_read_loaded_side_file_ = false;
  if (index_) {
    const size_t trusted = TrustedBlocks(*index_, now);
    if (trusted > 0) return trusted;
  }
  std::optional<StatsIndex> saved =
      LoadIndexFile(IndexFilePathFor(path_), static_cast<uint32_t>(block_records_));
  if (saved) {
    const size_t trusted = TrustedBlocks(*saved, now);
    side_file_identity_ = saved->identity;
    if (trusted > 0) {
      index_ = std::move(saved);
      last_read_loaded_side_file_ = true;
      return trusted;
    }
  }
  index_ = StatsIndex{};
  index_->block_records = static_cast<uint32_t>(block_records_);
  return 0;
}

void StatsFile::ReadStatsRange(uint32_t FromTime, uint32_t ToTime, TUPSStatusRawData& Records) {
  TUPSStatusRawData kept;
  KeepingSink sink(kept);
  ReadStatsRange(FromTime, ToTime, sink);
  Records = std::move(kept);
}

bool StatsFile::ReadStatsRange(uint32_t FromTime, uint32_t ToTime, RecordSink& sink) {
  operation_.lock();
  // Ends the operation however the read ends, running out of memory included.
  struct OperationGuard {
    StatsFile& file;
    ~OperationGuard() { file.EndOperation(); }
  } operation{*this};
  last_read_ = RangeReadReport{};
  if (!OpenStatsFile()) return false;
  CloseGuard guard(*this);
  struct stat info;
  if (fstat(StatsStream, &info) != 0) return false;
  if (info.st_size > 0) {
    const FileIdentity now = IdentityOf(info);
    const size_t trusted = ChooseIndex(now);
    // The summary is changed on a copy, so that running out of memory half-way leaves the
    // one kept as it was.
    StatsIndex updated = *index_;
    RangeReadSettings settings;
    settings.chunk_records = chunk_records_;
    settings.max_probes = kDefaultProbedBlocks;
    last_read_ =
        ReadRangeWithIndex(StatsStream, now, FromTime, ToTime, settings, updated, trusted, sink);
    index_ = std::move(updated);
    // The side file is rewritten when the summary grew (which includes every summary made
    // anew) or when it describes another state of the file; a failure to write it only costs
    // time at a later start.
    if (last_read_.completed && !index_->blocks.empty() &&
        (last_read_.blocks_summarised > 0 || side_file_identity_ != index_->identity)) {
      if (SaveIndexFile(IndexFilePathFor(path_), *index_)) {
        side_file_identity_ = index_->identity;
      }
    }
    return last_read_.completed;
  }
  return true;
}

TUPSStatusRawData StatsFile::ReadStatsRange(uint32_t FromTime, uint32_t ToTime) {
  TUPSStatusRawData records;
  ReadStatsRange(FromTime, ToTime, records);
  return records;
}

}  // namespace qelta
