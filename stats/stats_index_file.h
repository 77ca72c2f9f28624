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
// Replaces the side file at once (a temporary file renamed over it); false when it could not
// be written, in which case no temporary file is left behind.
bool SaveIndexFile(const std::string& path, const StatsIndex& index);

// After an append that changed nothing but the end of the statistics file: if the side file
// describes the file as it was before the append (`before`), it is made to describe it as it
// is after (`after`) by rewriting its header in place. True when it was.
bool VouchForAppendInIndexFile(const std::string& path, const FileIdentity& before,
                               const FileIdentity& after);

}  // namespace qelta
