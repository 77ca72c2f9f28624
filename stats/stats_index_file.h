#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "stats/stats_index.h"

namespace qelta {

// The side file that keeps a StatsIndex between runs, beside the statistics file. It is a
// cache: a missing, unreadable, foreign or damaged side file only means the summary is made
// again from the statistics file.
std::string IndexFilePathFor(const std::string& stats_path);

// The side file's bytes: a header (magic, version, record size, block size, the statistics
// file's identity, block count, a hash of the blocks, a hash of the header before it), then
// the blocks. The header can so be rewritten alone when only the identity changes.
std::vector<uint8_t> EncodeIndexFile(const StatsIndex& index);
// The index the bytes hold; nothing when they are not exactly a side file of this version
// and block size (damaged, cut short, longer, another block size).
std::optional<StatsIndex> DecodeIndexFile(const std::vector<uint8_t>& bytes,
                                          uint32_t block_records);

std::optional<StatsIndex> LoadIndexFile(const std::string& path, uint32_t block_records);
// Temporary files of the side file at `path` ("<side>.tmp-" and six letters or digits) that
// are regular files of this user, last changed at least kStaleIndexTemporaryAge seconds before
// `now_seconds`, are left by saves that were cut short (the process killed): they are removed.
// Saves run with the statistics file locked, so no save is still writing one; the age only
// spares a save of a program that does not take that lock.
inline constexpr int64_t kStaleIndexTemporaryAge = 60;
void RemoveStaleIndexTemporaries(const std::string& path, int64_t now_seconds);

// Replaces the side file at once (a temporary file renamed over it); false when it could not
// be written, in which case no temporary file is left behind. Stale temporary files of earlier
// saves go first (RemoveStaleIndexTemporaries).
bool SaveIndexFile(const std::string& path, const StatsIndex& index);

// After an append that changed nothing but the end of the statistics file: if the side file
// describes the file as it was before the append (`before`), it is made to describe it as it
// is after (`after`) by rewriting its header in place. True when it was.
bool VouchForAppendInIndexFile(const std::string& path, const FileIdentity& before,
                               const FileIdentity& after);

}  // namespace qelta
