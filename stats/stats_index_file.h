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
// file's identity, block count), the blocks, and a hash of everything before it.
std::vector<uint8_t> EncodeIndexFile(const StatsIndex& index);
// The index the bytes hold; nothing when they are not exactly a side file of this version
// and block size (damaged, cut short, longer, another block size).
std::optional<StatsIndex> DecodeIndexFile(const std::vector<uint8_t>& bytes,
                                          uint32_t block_records);

std::optional<StatsIndex> LoadIndexFile(const std::string& path, uint32_t block_records);
// Replaces the side file at once (a temporary file renamed over it); false when it could not
// be written, in which case no temporary file is left behind.
bool SaveIndexFile(const std::string& path, const StatsIndex& index);

}  // namespace qelta
