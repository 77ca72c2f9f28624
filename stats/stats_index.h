#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qelta {

// What the file system tells about the statistics file at one moment.
struct FileIdentity {
  uint64_t device = 0;
  uint64_t inode = 0;
  uint64_t size = 0;
  int64_t modified_ns = 0;  // st_mtim
  int64_t changed_ns = 0;   // st_ctim: set by every write and every time change, by anyone

  bool operator==(const FileIdentity&) const = default;
};

FileIdentity IdentityOf(const struct stat& info);

// A 64-bit hash of one 112-byte record (or of any byte string).
uint64_t MarkOfBytes(const uint8_t* data, size_t size);

// The time range of one block of consecutive records, and marks of its first and last
// record by which a later read recognises the block's content.
struct BlockSummary {
  uint32_t min_time = UINT32_MAX;  // over the non-zero stamps of the block
  uint32_t max_time = 0;           // 0: no non-zero stamp in the block
  uint64_t first_mark = 0;
  uint64_t last_mark = 0;

  void AddTime(uint32_t t) {
    if (t == 0) return;
    if (t < min_time) min_time = t;
    if (t > max_time) max_time = t;
  }
  // False only when no record of the block can lie in [from, to].
  bool MayHold(uint32_t from, uint32_t to) const {
    return max_time != 0 && min_time <= to && max_time >= from;
  }

  bool operator==(const BlockSummary&) const = default;
};

// A summary of the first blocks of a statistics file: block k holds the records
// block_records * k to block_records * (k + 1) - 1. Only whole blocks are summarised; the
// records after the last of them are always read. The summary describes the file as it was
// (`identity`) when it was made; it is a hint to be checked against the file, never a source
// of records.
struct StatsIndex {
  uint32_t block_records = 0;
  FileIdentity identity;
  std::vector<BlockSummary> blocks;

  bool operator==(const StatsIndex&) const = default;
};

// How many of the index's blocks may be relied on for the file as it is now, judged by what
// the file system tells (the content is checked afterwards): all of them when the file is
// exactly as the index last saw it (device, inode, size, modification and change times),
// none otherwise. A file that grew is not taken as appended to: an append is vouched for by
// the appender itself (StatsFile), which alone knows that it wrote nothing but the new
// record; any other change, a hand edit made while the monitor kept appending included,
// leads to a full read.
size_t TrustedBlocks(const StatsIndex& index, const FileIdentity& now);

// The blocks among the first `trusted` whose first and last records are read back to check
// the summary against the file before it is relied on: the first and the last block always,
// and others spread evenly, `max_probes` in all at most.
std::vector<size_t> ProbedBlocks(size_t trusted, size_t max_probes);

}  // namespace qelta
