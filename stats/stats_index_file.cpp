#include "stats/stats_index_file.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <ctime>
#include <memory>
#include <string_view>

#include "link/status_records.h"

namespace qelta {

namespace {

constexpr char kMagic[8] = {'Q', 'E', 'L', 'T', 'A', 'I', 'D', 'X'};
constexpr uint32_t kVersion = 2;
// magic, version, record size, block size, reserved; identity (5 x 8); block count, hash of
// the blocks; hash of the header up to here.
constexpr size_t kHeaderHashedSize = 8 + 4 * 4 + 5 * 8 + 8 + 8;
constexpr size_t kHeaderSize = kHeaderHashedSize + 8;
constexpr size_t kBlockSize = 4 + 4 + 8 + 8;
// Far more than the summary of any statistics file needs (a terabyte of records takes
// about 100 MB); a longer file is not read.
constexpr uint64_t kMaxFileBytes = uint64_t{256} << 20;

class Writer {
 public:
  void Bytes(const void* data, size_t size) {
    const auto* p = static_cast<const uint8_t*>(data);
    out_.insert(out_.end(), p, p + size);
  }
  void U32(uint32_t v) {
    for (int i = 0; i < 4; ++i) out_.push_back(static_cast<uint8_t>(v >> (8 * i)));
  }
  void U64(uint64_t v) {
    for (int i = 0; i < 8; ++i) out_.push_back(static_cast<uint8_t>(v >> (8 * i)));
  }
  std::vector<uint8_t>& out() { return out_; }

 private:
  std::vector<uint8_t> out_;
};

class Reader {
 public:
  Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool Bytes(void* out, size_t size) {
    if (size_ - at_ < size) return false;
    std::memcpy(out, data_ + at_, size);
    at_ += size;
    return true;
  }
  bool U32(uint32_t& v) {
    if (size_ - at_ < 4) return false;
    v = 0;
    for (int i = 3; i >= 0; --i) v = v << 8 | data_[at_ + static_cast<size_t>(i)];
    at_ += 4;
    return true;
  }
  bool U64(uint64_t& v) {
    if (size_ - at_ < 8) return false;
    v = 0;
    for (int i = 7; i >= 0; --i) v = v << 8 | data_[at_ + static_cast<size_t>(i)];
    at_ += 8;
    return true;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

bool WriteAll(int fd, const uint8_t* data, size_t size) {
  while (size > 0) {
    const ssize_t written = write(fd, data, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    data += written;
    size -= static_cast<size_t>(written);
  }
  return true;
}

void PutIdentity(Writer& w, const FileIdentity& id) {
  w.U64(id.device);
  w.U64(id.inode);
  w.U64(id.size);
  w.U64(static_cast<uint64_t>(id.modified_ns));
  w.U64(static_cast<uint64_t>(id.changed_ns));
}

bool GetIdentity(Reader& r, FileIdentity& id) {
  uint64_t modified = 0, changed = 0;
  if (!r.U64(id.device) || !r.U64(id.inode) || !r.U64(id.size) || !r.U64(modified) ||
      !r.U64(changed)) {
    return false;
  }
  id.modified_ns = static_cast<int64_t>(modified);
  id.changed_ns = static_cast<int64_t>(changed);
  return true;
}

std::vector<uint8_t> EncodeHeader(uint32_t block_records, const FileIdentity& identity,
                                  uint64_t block_count, uint64_t blocks_hash) {
  Writer w;
  w.Bytes(kMagic, sizeof kMagic);
  w.U32(kVersion);
  w.U32(static_cast<uint32_t>(kStatusRawSize));
  w.U32(block_records);
  w.U32(0);
  PutIdentity(w, identity);
  w.U64(block_count);
  w.U64(blocks_hash);
  w.U64(MarkOfBytes(w.out().data(), w.out().size()));
  return std::move(w.out());
}

struct Header {
  uint32_t block_records = 0;
  FileIdentity identity;
  uint64_t block_count = 0;
  uint64_t blocks_hash = 0;
};

// The header at the start of `bytes` (at least kHeaderSize of them), when it is intact and
// of this version.
std::optional<Header> DecodeHeader(const uint8_t* bytes) {
  Reader check(bytes + kHeaderHashedSize, 8);
  uint64_t stored = 0;
  if (!check.U64(stored) || stored != MarkOfBytes(bytes, kHeaderHashedSize)) return std::nullopt;
  Reader r(bytes, kHeaderHashedSize);
  char magic[sizeof kMagic];
  uint32_t version = 0, record_size = 0, reserved = 0;
  Header h;
  if (!r.Bytes(magic, sizeof magic) || std::memcmp(magic, kMagic, sizeof kMagic) != 0 ||
      !r.U32(version) || version != kVersion || !r.U32(record_size) ||
      record_size != kStatusRawSize || !r.U32(h.block_records) || !r.U32(reserved) ||
      !GetIdentity(r, h.identity) || !r.U64(h.block_count) || !r.U64(h.blocks_hash)) {
    return std::nullopt;
  }
  return h;
}

// Opens the side file without following a link and without waiting (a FIFO in its place
// would hold a blocking open for good); -1 unless it is a regular file of this user.
int OpenOwnSideFile(const std::string& path, int access) {
  int fd;
  do {
    fd = open(path.c_str(), access | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return -1;
  struct stat info;
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != geteuid()) {
    close(fd);
    return -1;
  }
  return fd;
}

// The suffix mkostemp gives a temporary file's name: six letters or digits.
bool IsTemporarySuffix(std::string_view suffix) {
  if (suffix.size() != 6) return false;
  for (char c : suffix) {
    const bool alphanumeric =
        (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    if (!alphanumeric) return false;
  }
  return true;
}

}  // namespace

std::string IndexFilePathFor(const std::string& stats_path) {
  return stats_path + ".idx";
}

std::vector<uint8_t> EncodeIndexFile(const StatsIndex& index) {
  Writer blocks;
  for (const BlockSummary& b : index.blocks) {
    blocks.U32(b.min_time);
    blocks.U32(b.max_time);
    blocks.U64(b.first_mark);
    blocks.U64(b.last_mark);
  }
  std::vector<uint8_t> out = EncodeHeader(index.block_records, index.identity, index.blocks.size(),
                                          MarkOfBytes(blocks.out().data(), blocks.out().size()));
  out.insert(out.end(), blocks.out().begin(), blocks.out().end());
  return out;
}

std::optional<StatsIndex> DecodeIndexFile(const std::vector<uint8_t>& bytes,
                                          uint32_t block_records) {
  if (bytes.size() < kHeaderSize) return std::nullopt;
  const std::optional<Header> header = DecodeHeader(bytes.data());
  if (!header || header->block_records != block_records) return std::nullopt;
  const size_t body = bytes.size() - kHeaderSize;
  if (header->block_count > kMaxFileBytes / kBlockSize ||
      header->block_count * kBlockSize != body ||
      MarkOfBytes(bytes.data() + kHeaderSize, body) != header->blocks_hash) {
    return std::nullopt;
  }
  StatsIndex index;
  index.block_records = header->block_records;
  index.identity = header->identity;
  index.blocks.resize(static_cast<size_t>(header->block_count));
  Reader r(bytes.data() + kHeaderSize, body);
  for (BlockSummary& b : index.blocks) {
    if (!r.U32(b.min_time) || !r.U32(b.max_time) || !r.U64(b.first_mark) || !r.U64(b.last_mark)) {
      return std::nullopt;
    }
  }
  return index;
}

std::optional<StatsIndex> LoadIndexFile(const std::string& path, uint32_t block_records) {
  const int fd = OpenOwnSideFile(path, O_RDONLY);
  if (fd < 0) return std::nullopt;
  std::vector<uint8_t> bytes;
  struct stat info;
  bool ok = fstat(fd, &info) == 0 && info.st_size >= 0 &&
            static_cast<uint64_t>(info.st_size) <= kMaxFileBytes;
  if (ok) {
    bytes.resize(static_cast<size_t>(info.st_size));
    size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t got = read(fd, bytes.data() + done, bytes.size() - done);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) break;
      done += static_cast<size_t>(got);
    }
    ok = done == bytes.size();
  }
  close(fd);
  if (!ok) return std::nullopt;
  return DecodeIndexFile(bytes, block_records);
}

void RemoveStaleIndexTemporaries(const std::string& path, int64_t now_seconds) {
  const size_t slash = path.rfind('/');
  const std::string folder =
      slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
  const std::string prefix = (slash == std::string::npos ? path : path.substr(slash + 1)) + ".tmp-";
  const int folder_fd =
      open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (folder_fd < 0) return;
  // fdopendir owns the descriptor from here on.
  std::unique_ptr<DIR, int (*)(DIR*)> entries(fdopendir(folder_fd), closedir);
  if (!entries) {
    close(folder_fd);
    return;
  }
  while (const dirent* entry = readdir(entries.get())) {
    const std::string_view name = entry->d_name;
    if (!name.starts_with(prefix) || !IsTemporarySuffix(name.substr(prefix.size()))) continue;
    struct stat info;
    if (fstatat(folder_fd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) continue;
    // Never a link, a FIFO or anything of another user's; and only one that no save can still
    // be writing.
    if (!S_ISREG(info.st_mode) || info.st_uid != geteuid()) continue;
    if (static_cast<int64_t>(info.st_mtim.tv_sec) > now_seconds - kStaleIndexTemporaryAge) continue;
    unlinkat(folder_fd, entry->d_name, 0);
  }
}

bool SaveIndexFile(const std::string& path, const StatsIndex& index) {
  const std::vector<uint8_t> bytes = EncodeIndexFile(index);
  // A save cut short (the process killed) leaves its temporary file behind.
  RemoveStaleIndexTemporaries(path, static_cast<int64_t>(std::time(nullptr)));
  // A new file of a name no one else can have foreseen (made with O_EXCL, so never a link or
  // a FIFO planted there), renamed over the side file: nothing is written through a name
  // that someone else made.
  std::string temporary = path + ".tmp-XXXXXX";
  const int fd = mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = WriteAll(fd, bytes.data(), bytes.size());
  ok = close(fd) == 0 && ok;
  ok = ok && rename(temporary.c_str(), path.c_str()) == 0;
  if (!ok) unlink(temporary.c_str());
  return ok;
}

bool VouchForAppendInIndexFile(const std::string& path, const FileIdentity& before,
                               const FileIdentity& after) {
  const int fd = OpenOwnSideFile(path, O_RDWR);
  if (fd < 0) return false;
  uint8_t bytes[kHeaderSize];
  bool vouched = false;
  if (pread(fd, bytes, kHeaderSize, 0) == static_cast<ssize_t>(kHeaderSize)) {
    const std::optional<Header> header = DecodeHeader(bytes);
    if (header && header->identity == before) {
      const std::vector<uint8_t> updated =
          EncodeHeader(header->block_records, after, header->block_count, header->blocks_hash);
      vouched =
          pwrite(fd, updated.data(), updated.size(), 0) == static_cast<ssize_t>(updated.size());
    }
  }
  close(fd);
  return vouched;
}

}  // namespace qelta
