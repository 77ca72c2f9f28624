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

struct RangeReadSettings {
  size_t chunk_records = 9216;  // records per read call
  size_t max_probes = 64;       // blocks whose first and last records are checked
};

// Appends to `kept`, in file order, every record of the open file `fd` whose stamp t
// satisfies from <= t <= to and t != 0, exactly as a read of every whole record would, and
// brings `index` up to date with the file (`now`, taken with fstat before the call).
//
// The first `trusted` blocks of `index` (TrustedBlocks) are checked first: the first and last
// records of the probed blocks, and of every block read, must carry the marks the summary
// holds. If they all do, only the blocks whose time range meets [from, to] are read, then
// every record after the summarised blocks; otherwise the summary is dropped and the whole
// file is read, summarising it anew. A read that stops early (read error, file cut meanwhile)
// keeps the records found before the stop, which is what a full read stopping there would
// have found, and leaves `index` empty.
RangeReadReport ReadRangeWithIndex(int fd, const FileIdentity& now, uint32_t from, uint32_t to,
                                   const RangeReadSettings& settings, StatsIndex& index,
                                   size_t trusted, TUPSStatusRawData& kept);

}  // namespace qelta
