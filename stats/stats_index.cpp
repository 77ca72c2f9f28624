#include "stats/stats_index.h"

#include <cstring>

namespace qelta {

FileIdentity IdentityOf(const struct stat& info) {
  FileIdentity id;
  id.device = static_cast<uint64_t>(info.st_dev);
  id.inode = static_cast<uint64_t>(info.st_ino);
  id.size = info.st_size > 0 ? static_cast<uint64_t>(info.st_size) : 0;
  id.modified_ns = static_cast<int64_t>(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec;
  id.changed_ns = static_cast<int64_t>(info.st_ctim.tv_sec) * 1'000'000'000 + info.st_ctim.tv_nsec;
  return id;
}

uint64_t MarkOfBytes(const uint8_t* data, size_t size) {
  // Word-wise multiply-xor mixing; every byte and the length reach every bit of the result.
  constexpr uint64_t kMultiplier = 0x9E3779B97F4A7C15ull;
  uint64_t h = 0x243F6A8885A308D3ull ^ (size * kMultiplier);
  auto mix = [&](uint64_t word) {
    h ^= word;
    h *= kMultiplier;
    h ^= h >> 29;
  };
  size_t at = 0;
  for (; at + 8 <= size; at += 8) {
    uint64_t word = 0;
    for (int i = 7; i >= 0; --i) word = word << 8 | data[at + static_cast<size_t>(i)];
    mix(word);
  }
  uint64_t rest = 0;
  for (size_t i = size; i > at; --i) rest = rest << 8 | data[i - 1];
  mix(rest ^ 0xFF);
  h ^= h >> 32;
  h *= kMultiplier;
  return h ^ (h >> 31);
}

size_t TrustedBlocks(const StatsIndex& index, const FileIdentity& now) {
  if (index.block_records == 0 || index.blocks.empty() || index.identity != now) return 0;
  const uint64_t summarised = static_cast<uint64_t>(index.blocks.size()) * index.block_records;
  if (now.size / 112 < summarised) return 0;
  return index.blocks.size();
}

std::vector<size_t> ProbedBlocks(size_t trusted, size_t max_probes) {
  std::vector<size_t> probed;
  if (trusted == 0 || max_probes == 0) return probed;
  if (trusted <= max_probes) {
    for (size_t b = 0; b < trusted; ++b) probed.push_back(b);
    return probed;
  }
  if (max_probes == 1) return {trusted - 1};
  // Evenly from the first to the last, both included.
  for (size_t i = 0; i < max_probes; ++i) {
    const size_t b = i * (trusted - 1) / (max_probes - 1);
    if (probed.empty() || probed.back() != b) probed.push_back(b);
  }
  return probed;
}

}  // namespace qelta
