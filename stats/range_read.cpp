#include "stats/range_read.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <utility>
#include <vector>

namespace qelta {

namespace {

// The most blocks' worth of records after the summarised blocks asked for in advance.
constexpr uint64_t kMostPrefetchedTail = 8;

uint32_t TimeOfRecord(const uint8_t* record) {
  return static_cast<uint32_t>(record[0]) | static_cast<uint32_t>(record[1]) << 8 |
         static_cast<uint32_t>(record[2]) << 16 | static_cast<uint32_t>(record[3]) << 24;
}

uint64_t MarkOfRecord(const uint8_t* record) {
  return MarkOfBytes(record, kStatusRawSize);
}

// Reads up to `size` bytes at `offset`, stopping early only at the end of the file or on an
// error. Returns the number of bytes read.
size_t ReadUpTo(int fd, uint8_t* data, size_t size, uint64_t offset) {
  size_t done = 0;
  while (done < size) {
    const ssize_t got = pread(fd, data + done, size - done, static_cast<off_t>(offset + done));
    if (got < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (got == 0) break;
    done += static_cast<size_t>(got);
  }
  return done;
}

// Streams records of a file in chunks of a fixed number of records.
class ChunkedReader {
 public:
  ChunkedReader(int fd, size_t chunk_records, const RecordSink& sink)
      : fd_(fd), chunk_records_(std::max<size_t>(chunk_records, 1)), sink_(sink) {}

  // Calls visit(position, record) for the records first .. first + count - 1 in order, until
  // visit returns false. True when every record was read and visited.
  template <typename Visit>
  bool Read(uint64_t first, uint64_t count, Visit&& visit) {
    if (count > 0 && !buffer_) {
      buffer_ = std::make_unique_for_overwrite<uint8_t[]>(chunk_records_ * kStatusRawSize);
    }
    uint64_t next = first;
    const uint64_t end = first + count;
    while (next < end) {
      if (sink_.Cancelled()) return false;
      const size_t wanted_records =
          static_cast<size_t>(std::min<uint64_t>(end - next, chunk_records_));
      const size_t wanted = wanted_records * kStatusRawSize;
      const size_t got = ReadUpTo(fd_, buffer_.get(), wanted, next * kStatusRawSize);
      const size_t records = got / kStatusRawSize;
      records_read_ += records;
      for (size_t i = 0; i < records; ++i) {
        if (!visit(next + i, buffer_.get() + i * kStatusRawSize)) return false;
      }
      if (got < wanted) return false;  // read error, or the file got shorter meanwhile
      next += records;
    }
    return true;
  }

  uint64_t records_read() const { return records_read_; }

 private:
  int fd_;
  size_t chunk_records_;
  const RecordSink& sink_;
  std::unique_ptr<uint8_t[]> buffer_;
  uint64_t records_read_ = 0;
};

void Prefetch(int fd, uint64_t first_record, uint64_t count) {
  posix_fadvise(fd, static_cast<off_t>(first_record * kStatusRawSize),
                static_cast<off_t>(count * kStatusRawSize), POSIX_FADV_WILLNEED);
}

bool RecordHasMark(int fd, uint64_t position, uint64_t mark) {
  uint8_t record[kStatusRawSize];
  return ReadUpTo(fd, record, kStatusRawSize, position * kStatusRawSize) == kStatusRawSize &&
         MarkOfRecord(record) == mark;
}

// Runs of consecutive blocks among the first `count` that may hold a stamp in [from, to],
// as [first block, end block) pairs.
std::vector<std::pair<size_t, size_t>> BlocksToRead(const std::vector<BlockSummary>& blocks,
                                                    size_t count, uint32_t from, uint32_t to) {
  std::vector<std::pair<size_t, size_t>> runs;
  for (size_t b = 0; b < count; ++b) {
    if (!blocks[b].MayHold(from, to)) continue;
    if (!runs.empty() && runs.back().second == b) {
      runs.back().second = b + 1;
    } else {
      runs.emplace_back(b, b + 1);
    }
  }
  return runs;
}

}  // namespace

void KeepingSink::Take(const uint8_t* record) {
  kept_.push_back(DecodeStatusRaw(record));
}

RangeReadReport ReadRangeWithIndex(int fd, const FileIdentity& now, uint32_t from, uint32_t to,
                                   const RangeReadSettings& settings, StatsIndex& index,
                                   size_t trusted, RecordSink& sink) {
  RangeReadReport report;
  const uint64_t whole = now.size / kStatusRawSize;
  const uint64_t block = index.block_records;
  ChunkedReader reader(fd, settings.chunk_records, sink);
  auto keep = [&](const uint8_t* record) {
    const uint32_t t = TimeOfRecord(record);
    if (t != 0 && from <= t && t <= to) sink.Take(record);
  };
  auto give_up = [&] {
    index.blocks.clear();
    index.identity = FileIdentity{};
    report.records_read = reader.records_read();
    return report;
  };

  size_t relied = block == 0 ? 0 : std::min(trusted, index.blocks.size());
  if (relied > 0) {
    // Scattered reads from here on: no read-ahead beyond what is asked for, and all of it
    // asked for at once so that the device can serve it in parallel.
    posix_fadvise(fd, 0, 0, POSIX_FADV_RANDOM);
    const std::vector<size_t> probed = ProbedBlocks(relied, settings.max_probes);
    const auto runs = BlocksToRead(index.blocks, relied, from, to);
    for (const auto& [first, end] : runs) Prefetch(fd, first * block, (end - first) * block);
    // The records after the summarised blocks are read in any case; when they are few (the
    // summary is kept up to date as the file grows), along with the rest.
    const uint64_t tail = relied * block;
    if (whole - tail <= kMostPrefetchedTail * block) Prefetch(fd, tail, whole - tail);
    for (size_t b : probed) {
      Prefetch(fd, b * block, 1);
      Prefetch(fd, (b + 1) * block - 1, 1);
    }

    bool matches = true;
    for (size_t b : probed) {
      if (!RecordHasMark(fd, b * block, index.blocks[b].first_mark) ||
          !RecordHasMark(fd, (b + 1) * block - 1, index.blocks[b].last_mark)) {
        matches = false;
        break;
      }
    }
    for (size_t r = 0; matches && r < runs.size(); ++r) {
      const auto [first, end] = runs[r];
      const bool read_all = reader.Read(
          first * block, (end - first) * block, [&](uint64_t position, const uint8_t* record) {
            const uint64_t offset = position % block;
            const BlockSummary& summary = index.blocks[position / block];
            if ((offset == 0 && MarkOfRecord(record) != summary.first_mark) ||
                (offset == block - 1 && MarkOfRecord(record) != summary.last_mark)) {
              matches = false;
              return false;
            }
            keep(record);
            return true;
          });
      if (!read_all && matches) return give_up();
    }
    if (!matches) {
      // The file is not what the summary describes: forget it and read everything.
      sink.Restart();
      relied = 0;
    }
  }
  index.blocks.resize(relied);
  report.blocks_relied_on = relied;

  posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  BlockSummary current;
  const uint64_t tail = relied * block;
  const bool read_all =
      reader.Read(tail, whole - tail, [&](uint64_t position, const uint8_t* record) {
        if (block != 0) {
          const uint64_t offset = position % block;
          if (offset == 0) {
            current = BlockSummary{};
            current.first_mark = MarkOfRecord(record);
          }
          current.AddTime(TimeOfRecord(record));
          if (offset == block - 1) {
            current.last_mark = MarkOfRecord(record);
            index.blocks.push_back(current);
            ++report.blocks_summarised;
          }
        }
        keep(record);
        return true;
      });
  if (!read_all) return give_up();
  index.identity = now;
  report.records_read = reader.records_read();
  report.completed = true;
  return report;
}

RangeReadReport ReadRangeWithIndex(int fd, const FileIdentity& now, uint32_t from, uint32_t to,
                                   const RangeReadSettings& settings, StatsIndex& index,
                                   size_t trusted, TUPSStatusRawData& kept) {
  kept.clear();
  KeepingSink sink(kept);
  return ReadRangeWithIndex(fd, now, from, to, settings, index, trusted, sink);
}

}  // namespace qelta
