#pragma once

#include <cstddef>
#include <cstdint>

#include "link/status_records.h"
#include "stats/stats_index.h"

namespace qelta {

// What one range read looked at.
struct RangeReadReport {
  uint64_t records_read = 0;     // records read for the result and the summary (not probes)
  size_t blocks_relied_on = 0;   // summarised blocks that were skipped or read by the summary
  size_t blocks_summarised = 0;  // blocks added to the summary by this read
  bool completed = false;        // false when a read error or a shorter file stopped the read
};

// Receives the records of a range read as they are read, so that a caller can reduce them at
// once instead of keeping them.
class RecordSink {
 public:
  virtual ~RecordSink() = default;
  // One record whose stamp is in range: its 112 bytes, in file order.
  virtual void Take(const uint8_t* record) = 0;
  // Everything taken so far is void: the read starts over from the first record.
  virtual void Restart() = 0;
  // Asked before each chunk is read: true ends the read there, not completed.
  virtual bool Cancelled() const { return false; }
};

// Keeps the records in an array.
class KeepingSink : public RecordSink {
 public:
  explicit KeepingSink(TUPSStatusRawData& kept) : kept_(kept) {}
  void Take(const uint8_t* record) override;
  void Restart() override { kept_.clear(); }

 private:
  TUPSStatusRawData& kept_;
};

struct RangeReadSettings {
  size_t chunk_records = 9216;  // records per read call
  size_t max_probes = 64;       // blocks whose first and last records are checked
};

// Hands to `sink`, in file order, every record of the open file `fd` whose stamp t
// satisfies from <= t <= to and t != 0, exactly as a read of every whole record would, and
// brings `index` up to date with the file (`now`, taken with fstat before the call).
//
// The first `trusted` blocks of `index` (TrustedBlocks) are checked first: the first and last
// records of the probed blocks, and of every block read, must carry the marks the summary
// holds. If they all do, only the blocks whose time range meets [from, to] are read, then
// every record after the summarised blocks; otherwise the summary is dropped and the whole
// file is read, summarising it anew. A read that stops early (read error, file cut meanwhile)
// keeps the records found before the stop, which is what a full read stopping there would
// have found, and leaves `index` empty; so does a read that the sink cancels.
RangeReadReport ReadRangeWithIndex(int fd, const FileIdentity& now, uint32_t from, uint32_t to,
                                   const RangeReadSettings& settings, StatsIndex& index,
                                   size_t trusted, RecordSink& sink);
// The same, replacing `kept` with the records in range.
RangeReadReport ReadRangeWithIndex(int fd, const FileIdentity& now, uint32_t from, uint32_t to,
                                   const RangeReadSettings& settings, StatsIndex& index,
                                   size_t trusted, TUPSStatusRawData& kept);

}  // namespace qelta
