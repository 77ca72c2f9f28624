// The summary that lets a range read skip blocks never changes what the read returns: every
// read is compared with a plain walk over the file's bytes, through appends, clocks set back,
// truncation, files swapped or edited between reads, and damaged or stale side files.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "stats/range_read.h"
#include "stats/stats.h"
#include "stats/stats_index.h"
#include "stats/stats_index_file.h"

namespace qelta {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

Bytes FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The records a read of every whole record keeps, decoded straight from the bytes.
TUPSStatusRawData FullScan(const Bytes& bytes, uint32_t from, uint32_t to) {
  TUPSStatusRawData kept;
  for (size_t at = 0; at + kStatusRawSize <= bytes.size(); at += kStatusRawSize) {
    const TUPSStatusRaw r = DecodeStatusRaw(bytes.data() + at);
    if (r.time != 0 && from <= r.time && r.time <= to) kept.push_back(r);
  }
  return kept;
}

TUPSStatusRawData FullScan(const std::string& path, uint32_t from, uint32_t to) {
  return FullScan(FileBytes(path), from, to);
}

void WriteAt(const std::string& path, const Bytes& bytes, off_t offset, int flags) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | flags, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(pwrite(fd, bytes.data(), bytes.size(), offset), static_cast<ssize_t>(bytes.size()));
  close(fd);
}

void Append(const std::string& path, const Bytes& bytes) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  close(fd);
}

timespec ModifiedTime(const std::string& path) {
  struct stat info {};
  stat(path.c_str(), &info);
  return info.st_mtim;
}

void SetModifiedTime(const std::string& path, timespec modified) {
  const timespec times[2] = {modified, modified};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

// Samples of a recording: stamps mostly a few seconds apart, sometimes set back (a clock put
// back by an hour, or by hand) or forward, now and then a zero stamp; every field varies.
class Recording {
 public:
  Recording(uint64_t seed, uint32_t start) : rng_(seed), clock_(start) {}

  TUPSStatusRaw Next() {
    TUPSStatusRaw r;
    const uint32_t roll = Uniform(0, 999);
    if (roll < 4) {
      clock_ -= std::min<uint32_t>(clock_ - 1, Uniform(1, 20000));  // clock set back
    } else if (roll < 6) {
      clock_ += Uniform(3600, 200000);  // a gap, or a clock put forward
    }
    clock_ += Uniform(1, 5);
    r.time = roll == 999 ? 0 : clock_;
    for (Extended* e : {&r.IP_voltage, &r.IP_fault_voltage, &r.OP_voltage, &r.OP_frequency,
                        &r.battery_voltage, &r.temp}) {
      for (uint8_t& b : e->bytes) b = static_cast<uint8_t>(rng_());
    }
    r.OP_current = static_cast<int32_t>(rng_());
    const uint64_t flags = rng_();
    r.status_using_battery = flags & 1;
    r.status_battery_low = flags & 2;
    r.status_avr = flags & 4;
    r.status_ups_failed = flags & 8;
    r.status_ups_is_line_interactive = flags & 16;
    r.status_testing = flags & 32;
    r.status_shutdown = flags & 64;
    r.status_beeper = flags & 128;
    return r;
  }

  Bytes NextBytes(size_t count) {
    Bytes out;
    for (size_t i = 0; i < count; ++i) {
      const StatusRawBytes b = EncodeStatusRaw(Next());
      out.insert(out.end(), b.begin(), b.end());
    }
    return out;
  }

  uint32_t clock() const { return clock_; }
  uint32_t Uniform(uint32_t low, uint32_t high) {
    return std::uniform_int_distribution<uint32_t>(low, high)(rng_);
  }

 private:
  std::mt19937_64 rng_;
  uint32_t clock_;
};

class StatsIndexTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "qelta-index-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    path_ = (fs::path(dir_) / "qelta-monitor.stats").string();
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  void ExpectSameAsFullScan(StatsFile& file, uint32_t from, uint32_t to) {
    const TUPSStatusRawData got = file.ReadStatsRange(from, to);
    const TUPSStatusRawData expected = FullScan(path_, from, to);
    ASSERT_EQ(got.size(), expected.size()) << "range " << from << ".." << to;
    for (size_t i = 0; i < got.size(); ++i) {
      ASSERT_EQ(got[i], expected[i]) << "record " << i << " of range " << from << ".." << to;
    }
  }

  std::string dir_;
  std::string path_;
};

TEST(StatsIndexRules, WhatTheFileSystemTellsDecidesHowMuchOfTheSummaryIsKept) {
  StatsIndex index;
  index.block_records = 4;
  index.blocks.resize(3);
  index.identity = {1, 2, 14 * 112 + 5, 1000, 2000};
  EXPECT_EQ(TrustedBlocks(index, index.identity), 3u);  // unchanged

  auto with = [&](auto change) {
    FileIdentity id = index.identity;
    change(id);
    return TrustedBlocks(index, id);
  };
  EXPECT_EQ(with([](FileIdentity& id) { id.inode = 3; }), 0u);
  EXPECT_EQ(with([](FileIdentity& id) { id.device = 9; }), 0u);
  EXPECT_EQ(with([](FileIdentity& id) { id.size -= 1; }), 0u);         // cut, even by a fragment
  EXPECT_EQ(with([](FileIdentity& id) { id.modified_ns += 1; }), 0u);  // same size, rewritten
  EXPECT_EQ(with([](FileIdentity& id) { id.changed_ns += 1; }), 0u);   // mtime put back
  // The blocks claim more records than the file holds.
  index.blocks.resize(4);
  EXPECT_EQ(TrustedBlocks(index, index.identity), 0u);
}

TEST(StatsIndexRules, ProbesCoverTheEndsAndSpreadEvenly) {
  EXPECT_TRUE(ProbedBlocks(0, 64).empty());
  EXPECT_EQ(ProbedBlocks(3, 64), (std::vector<size_t>{0, 1, 2}));
  EXPECT_EQ(ProbedBlocks(10, 4), (std::vector<size_t>{0, 3, 6, 9}));
  const std::vector<size_t> many = ProbedBlocks(5000, 64);
  ASSERT_EQ(many.size(), 64u);
  EXPECT_EQ(many.front(), 0u);
  EXPECT_EQ(many.back(), 4999u);
  for (size_t i = 1; i < many.size(); ++i) {
    EXPECT_GT(many[i], many[i - 1]);
    EXPECT_LE(many[i] - many[i - 1], 5000u / 63 + 1);
  }
}

TEST(StatsIndexFile, RoundTripsAndRejectsEveryDamage) {
  StatsIndex index;
  index.block_records = 2048;
  index.identity = {0x0102030405060708ull, 77, 123456, -5, 1'700'000'000'123'456'789};
  for (uint32_t b = 0; b < 5; ++b) {
    BlockSummary s;
    s.min_time = 1000 * b + 1;
    s.max_time = 1000 * b + 999;
    s.first_mark = 0x1111111111111111ull * (b + 1);
    s.last_mark = ~s.first_mark;
    index.blocks.push_back(s);
  }
  index.blocks[2] = BlockSummary{};  // a block without any stamp
  const Bytes bytes = EncodeIndexFile(index);
  const std::optional<StatsIndex> back = DecodeIndexFile(bytes, 2048);
  ASSERT_TRUE(back.has_value());
  EXPECT_EQ(*back, index);

  EXPECT_FALSE(DecodeIndexFile(bytes, 1024).has_value());  // made for another block size
  for (size_t at = 0; at < bytes.size(); ++at) {
    Bytes damaged = bytes;
    damaged[at] ^= 0x20;
    EXPECT_FALSE(DecodeIndexFile(damaged, 2048).has_value()) << "byte " << at;
  }
  for (size_t length : {size_t{0}, size_t{7}, bytes.size() - 24, bytes.size() - 1}) {
    EXPECT_FALSE(DecodeIndexFile(Bytes(bytes.begin(), bytes.begin() + length), 2048).has_value());
  }
  Bytes longer = bytes;
  longer.push_back(0);
  EXPECT_FALSE(DecodeIndexFile(longer, 2048).has_value());
}

TEST(StatsIndexFile, AnAppendIsVouchedForOnlyOverTheStateTheSideFileDescribes) {
  std::string pattern = (fs::temp_directory_path() / "qelta-vouch-XXXXXX").string();
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  const std::string side = pattern + "/x.stats.idx";
  StatsIndex index;
  index.block_records = 8;
  index.identity = {1, 2, 8 * 112, 10, 20};
  index.blocks.resize(1);
  index.blocks[0].min_time = 5;
  index.blocks[0].max_time = 9;
  ASSERT_TRUE(SaveIndexFile(side, index));
  const FileIdentity after = {1, 2, 9 * 112, 30, 30};

  FileIdentity other = index.identity;
  other.changed_ns = 21;
  EXPECT_FALSE(VouchForAppendInIndexFile(side, other, after));
  EXPECT_EQ(LoadIndexFile(side, 8), index);
  EXPECT_TRUE(VouchForAppendInIndexFile(side, index.identity, after));
  StatsIndex expected = index;
  expected.identity = after;
  EXPECT_EQ(LoadIndexFile(side, 8), expected);
  // A damaged header is left alone.
  Bytes bytes = FileBytes(side);
  bytes[3] ^= 1;
  WriteAt(side, bytes, 0, O_TRUNC);
  EXPECT_FALSE(VouchForAppendInIndexFile(side, after, index.identity));
  EXPECT_EQ(FileBytes(side), bytes);
  EXPECT_FALSE(VouchForAppendInIndexFile(pattern + "/missing.idx", after, index.identity));
  fs::remove_all(pattern);
}

// A file that carries the very identity the summary was made for (same inode, size and
// times, as a swap might leave it if it came within one tick of the file system's clock) but
// other content: the marks of the blocks give it away.
TEST_F(StatsIndexTest, ContentIsCheckedEvenWhenTheIdentityMatches) {
  Recording original(1, 1'000'000);
  WriteAt(path_, original.NextBytes(40 * 16), 0, O_TRUNC);
  const int fd = open(path_.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  struct stat info;
  ASSERT_EQ(fstat(fd, &info), 0);
  const FileIdentity identity = IdentityOf(info);
  StatsIndex index;
  index.block_records = 16;
  TUPSStatusRawData kept;
  RangeReadSettings settings;
  settings.chunk_records = 7;
  settings.max_probes = 64;
  ASSERT_TRUE(ReadRangeWithIndex(fd, identity, 0, UINT32_MAX, settings, index, 0, kept).completed);
  close(fd);
  ASSERT_EQ(index.blocks.size(), 40u);

  // Another recording of the same length, over the same inode, and a range that only its
  // records fall into.
  Recording other(2, 5'000'000);
  const Bytes swapped = other.NextBytes(40 * 16);
  WriteAt(path_, swapped, 0, 0);
  const int fd2 = open(path_.c_str(), O_RDONLY);
  ASSERT_GE(fd2, 0);
  const TUPSStatusRaw inside = DecodeStatusRaw(swapped.data() + (17 * 16 + 3) * kStatusRawSize);
  const uint32_t from = inside.time, to = inside.time + 2;
  const TUPSStatusRawData expected = FullScan(swapped, from, to);
  ASSERT_FALSE(expected.empty());
  for (size_t probes : {size_t{64}, size_t{2}}) {
    SCOPED_TRACE(probes);
    StatsIndex stale = index;
    settings.max_probes = probes;
    const RangeReadReport report =
        ReadRangeWithIndex(fd2, identity, from, to, settings, stale, stale.blocks.size(), kept);
    EXPECT_TRUE(report.completed);
    EXPECT_EQ(report.blocks_relied_on, 0u);
    EXPECT_EQ(kept, expected);
    // The summary now describes the new content.
    StatsIndex fresh;
    fresh.block_records = 16;
    TUPSStatusRawData all;
    ReadRangeWithIndex(fd2, identity, 0, 0, settings, fresh, 0, all);
    EXPECT_EQ(stale.blocks, fresh.blocks);
  }
  // Without the check, the stale summary rules out every block and the records are missed:
  // the case above is one only the content can reveal.
  StatsIndex stale = index;
  settings.max_probes = 0;
  ReadRangeWithIndex(fd2, identity, from, to, settings, stale, stale.blocks.size(), kept);
  EXPECT_TRUE(kept.empty());
  close(fd2);
}

TEST_F(StatsIndexTest, OneDayOfALongFileReadsOnlyTheBlocksThatCanHoldIt) {
  // 60 days of one sample a minute: 86,400 records, blocks of 256.
  constexpr uint32_t kStart = 1'700'000'000 - 1'700'000'000 % 86400;
  Bytes content;
  for (uint32_t i = 0; i < 60 * 1440; ++i) {
    TUPSStatusRaw r;
    r.time = kStart + 60 * i;
    const StatusRawBytes b = EncodeStatusRaw(r);
    content.insert(content.end(), b.begin(), b.end());
  }
  WriteAt(path_, content, 0, O_TRUNC);
  const uint32_t day = kStart + 30 * 86400;
  constexpr uint64_t kMostForADay = 1440 + 2 * 256;

  StatsFile file(path_, 1000, 256);
  ExpectSameAsFullScan(file, day, day + 86399);
  EXPECT_EQ(file.last_read().records_read, 86400u);  // the first read summarises the file
  ExpectSameAsFullScan(file, day, day + 86399);
  EXPECT_LE(file.last_read().records_read, kMostForADay);
  EXPECT_EQ(file.last_read().blocks_relied_on, 337u);

  // A later run of the program finds the summary in the side file.
  StatsFile restarted(path_, 1000, 256);
  ExpectSameAsFullScan(restarted, day + 86400, day + 2 * 86400 - 1);
  EXPECT_TRUE(restarted.last_read_loaded_side_file());
  EXPECT_LE(restarted.last_read().records_read, kMostForADay);

  // Samples appended meanwhile are read once, and the blocks they fill join the summary.
  for (uint32_t i = 0; i < 300; ++i) {
    TUPSStatusRaw r;
    r.time = day + 43200 + i;  // the clock set back into the day read above
    restarted.AppendStatsRecord(r);
  }
  ExpectSameAsFullScan(restarted, day, day + 86399);
  EXPECT_LE(restarted.last_read().records_read, kMostForADay + 300);
  EXPECT_EQ(restarted.last_read().blocks_summarised, 1u);
  EXPECT_FALSE(restarted.last_read_loaded_side_file());  // the summary in memory went along
  ExpectSameAsFullScan(restarted, day, day + 86399);
  EXPECT_LE(restarted.last_read().records_read, kMostForADay + 256 + 300 % 256);
  // Nothing of the file is read for a day it cannot hold, beyond the tail.
  ExpectSameAsFullScan(restarted, kStart - 86400, kStart - 1);
  EXPECT_LT(restarted.last_read().records_read, 256u);

  // Records appended by another writer: nothing vouches that the rest stayed as it was.
  TUPSStatusRaw foreign;
  foreign.time = day + 7;
  const StatusRawBytes b = EncodeStatusRaw(foreign);
  Append(path_, Bytes(b.begin(), b.end()));
  ExpectSameAsFullScan(restarted, day, day + 86399);
  EXPECT_EQ(restarted.last_read().records_read, 86400u + 301);
}

// The monitor keeps appending while someone edits the file by hand: the edit, in a block the
// read would skip, is found all the same.
TEST_F(StatsIndexTest, AHandEditAmidAppendsIsNotMistakenForAppends) {
  Recording recording(5, 3'000'000);
  WriteAt(path_, recording.NextBytes(64 * 20), 0, O_TRUNC);
  StatsFile monitor(path_, 64, 64);
  StatsFile window(path_, 64, 64);
  const uint32_t late = recording.clock() + 1'000'000;
  ExpectSameAsFullScan(window, late, late + 86399);
  monitor.AppendStatsRecord(recording.Next());
  ExpectSameAsFullScan(window, late, late + 86399);
  EXPECT_LT(window.last_read().records_read, 64u);  // appends are vouched for

  monitor.AppendStatsRecord(recording.Next());
  std::this_thread::sleep_for(std::chrono::milliseconds(15));
  const Bytes stamp = {static_cast<uint8_t>(late), static_cast<uint8_t>(late >> 8),
                       static_cast<uint8_t>(late >> 16), static_cast<uint8_t>(late >> 24)};
  WriteAt(path_, stamp, (64 * 7 + 30) * kStatusRawSize, 0);  // inside block 7
  monitor.AppendStatsRecord(recording.Next());
  ExpectSameAsFullScan(window, late, late + 86399);
  EXPECT_EQ(window.last_read().blocks_relied_on, 0u);
  ASSERT_EQ(window.ReadStatsRange(late, late).size(), 1u);
}

TEST_F(StatsIndexTest, DamagedStaleOrMissingSideFilesCostOnlyTime) {
  Recording recording(3, 2'000'000);
  WriteAt(path_, recording.NextBytes(1000), 0, O_TRUNC);
  const std::string side = IndexFilePathFor(path_);
  {
    StatsFile file(path_, 64, 32);
    ExpectSameAsFullScan(file, 0, UINT32_MAX);
  }
  const Bytes good = FileBytes(side);
  ASSERT_FALSE(good.empty());

  // Another statistics file with its own side file, to be passed off as this one's.
  const std::string other_path = dir_ + "/other.stats";
  Recording other(4, 2'000'000);
  WriteAt(other_path, other.NextBytes(1000), 0, O_TRUNC);
  {
    StatsFile file(other_path, 64, 32);
    file.ReadStatsRange(0, UINT32_MAX);
  }
  const Bytes foreign = FileBytes(IndexFilePathFor(other_path));

  const uint32_t from = recording.clock() - 3000, to = recording.clock() - 1000;
  std::vector<std::pair<std::string, Bytes>> cases = {
      {"missing", {}}, {"empty", Bytes{}}, {"foreign", foreign}, {"cut", good}, {"flipped", good}};
  cases[3].second.resize(good.size() / 2);
  cases[4].second[good.size() / 2] ^= 1;
  for (const auto& [name, bytes] : cases) {
    SCOPED_TRACE(name);
    fs::remove(side);
    if (name != "missing") WriteAt(side, bytes, 0, O_TRUNC);
    StatsFile file(path_, 64, 32);
    ExpectSameAsFullScan(file, from, to);
    EXPECT_FALSE(file.last_read_loaded_side_file());
    EXPECT_EQ(file.last_read().records_read, 1000u);
    // The side file is made anew and serves the next start.
    StatsFile next(path_, 64, 32);
    ExpectSameAsFullScan(next, from, to);
    EXPECT_TRUE(next.last_read_loaded_side_file());
    EXPECT_LT(next.last_read().records_read, 1000u);
  }

  // A folder where no side file can be written: reads are right, only slower.
  fs::remove(side);
  fs::create_directory(side);
  StatsFile file(path_, 64, 32);
  ExpectSameAsFullScan(file, from, to);
  ExpectSameAsFullScan(file, from, to);
  EXPECT_LT(file.last_read().records_read, 1000u);  // the summary in memory still serves
  std::vector<fs::path> left;
  for (const auto& entry : fs::directory_iterator(dir_)) left.push_back(entry.path().filename());
  EXPECT_EQ(left.size(), 4u) << "no temporary file is left behind";
}

// Randomised: a file changed between reads in every way the program may meet, and reads of
// random ranges compared with a plain walk over the file.
TEST_F(StatsIndexTest, EveryReadEqualsAFullScanWhateverHappensToTheFile) {
  // QELTA_TEST_SEED repeats a run.
  const char* given = std::getenv("QELTA_TEST_SEED");
  const uint64_t seed =
      given != nullptr ? std::strtoull(given, nullptr, 10) : std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937_64 rng(seed);
  auto uniform = [&](uint64_t low, uint64_t high) {
    return std::uniform_int_distribution<uint64_t>(low, high)(rng);
  };
  const size_t blocks_per_config[] = {1, 3, 8, 64};
  const size_t chunks_per_config[] = {1, 5, 64, 1000};
  Recording recording(seed, 1'600'000'000);
  uint32_t swaps = 0;
  size_t reads = 0, reads_that_skipped = 0;
  // One record's stamp changed in place. A person editing does so long after the last read;
  // the pause keeps the edit out of the file system clock's tick in which that read looked
  // at the file.
  auto HandEdit = [&] {
    const uint64_t size = fs::file_size(path_);
    if (size < kStatusRawSize) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(15));
    const uint64_t record = uniform(0, size / kStatusRawSize - 1);
    const uint32_t stamp = recording.Uniform(1, recording.clock());
    const Bytes b = {static_cast<uint8_t>(stamp), static_cast<uint8_t>(stamp >> 8),
                     static_cast<uint8_t>(stamp >> 16), static_cast<uint8_t>(stamp >> 24)};
    WriteAt(path_, b, static_cast<off_t>(record * kStatusRawSize), 0);
  };

  for (int round = 0; round < 4; ++round) {
    const size_t block = blocks_per_config[round];
    const size_t chunk = chunks_per_config[(round + 1) % 4];
    SCOPED_TRACE("block " + std::to_string(block) + ", chunk " + std::to_string(chunk));
    fs::remove(path_);
    fs::remove(IndexFilePathFor(path_));
    auto file = std::make_unique<StatsFile>(path_, chunk, block);
    StatsFile monitor(path_);  // another appender, as the polling loop is
    Append(path_, recording.NextBytes(uniform(0, 40 * block)));

    for (int step = 0; step < 150; ++step) {
      const uint64_t action = uniform(0, 99);
      const uint64_t size = fs::file_size(path_);
      if (action < 10) {
        Append(path_, recording.NextBytes(uniform(1, 3 * block)));  // another writer
      } else if (action < 35) {
        for (uint64_t i = uniform(1, 2 * block); i > 0; --i) {
          monitor.AppendStatsRecord(recording.Next());
        }
      } else if (action < 40) {
        // The monitor appends, the file is edited by hand meanwhile, the monitor goes on.
        for (uint64_t i = uniform(0, block); i > 0; --i)
          monitor.AppendStatsRecord(recording.Next());
        HandEdit();
        for (uint64_t i = uniform(0, block); i > 0; --i)
          monitor.AppendStatsRecord(recording.Next());
      } else if (action < 44) {
        Bytes fragment = recording.NextBytes(1);
        fragment.resize(uniform(1, kStatusRawSize - 1));
        Append(path_, fragment);
      } else if (action < 52) {
        fs::resize_file(path_, uniform(0, size));
      } else if (action < 60 && size > 0) {
        // Another recording of the same size, its modification time set to the one replaced;
        // written over the same inode or renamed into place.
        const timespec modified = ModifiedTime(path_);
        Recording other(seed ^ (0xABCDEFull + ++swaps), recording.Uniform(1, 1'700'000'000));
        Bytes bytes = other.NextBytes(size / kStatusRawSize);
        bytes.resize(size, 0x5A);
        if (uniform(0, 1) == 0) {
          WriteAt(path_, bytes, 0, 0);
        } else {
          const std::string temporary = dir_ + "/swap.tmp";
          WriteAt(temporary, bytes, 0, O_TRUNC);
          fs::rename(temporary, path_);
        }
        SetModifiedTime(path_, modified);
      } else if (action < 66) {
        HandEdit();
      } else if (action < 70) {
        fs::remove(IndexFilePathFor(path_));
      } else if (action < 75 && fs::exists(IndexFilePathFor(path_))) {
        Bytes side = FileBytes(IndexFilePathFor(path_));
        if (!side.empty())
          side[uniform(0, side.size() - 1)] ^= static_cast<uint8_t>(uniform(1, 255));
        WriteAt(IndexFilePathFor(path_), side, 0, O_TRUNC);
      } else if (action < 82) {
        file = std::make_unique<StatsFile>(path_, chunk, block);  // the program started anew
      }

      for (int r = 0; r < 3; ++r) {
        uint32_t from, to;
        const uint64_t kind = uniform(0, 9);
        if (kind < 6) {
          from = recording.Uniform(1'600'000'000 - 86400, recording.clock());
          to = from + 86399;
        } else if (kind < 8) {
          from = recording.Uniform(0, UINT32_MAX);
          to = recording.Uniform(0, UINT32_MAX);
        } else if (kind == 8) {
          from = 0;
          to = UINT32_MAX;
        } else {
          from = to = recording.clock();
        }
        ASSERT_NO_FATAL_FAILURE(ExpectSameAsFullScan(*file, from, to))
            << "relied " << file->last_read().blocks_relied_on << " read "
            << file->last_read().records_read << " side " << file->last_read_loaded_side_file();
        ++reads;
        if (file->last_read().blocks_relied_on > 0 &&
            file->last_read().records_read < fs::file_size(path_) / kStatusRawSize) {
          ++reads_that_skipped;
        }
      }
    }
  }
  // The summary was not merely consistent but used: most reads skipped part of the file.
  EXPECT_GT(reads_that_skipped, reads / 3) << reads_that_skipped << " of " << reads;
}

// Records appended by another writer while reads go on: each read returns what a full read
// of the file as it stood at some moment during that read returns.
TEST_F(StatsIndexTest, AppendsDuringReadsGiveAFullScanOfSomeMomentOfTheRead) {
  Recording recording(11, 1'650'000'000);
  Append(path_, recording.NextBytes(3000));
  const uint32_t from = 1'650'000'000, to = UINT32_MAX;
  std::atomic<bool> stop{false};
  std::thread writer([&] {
    Recording more(12, 1'650'100'000);
    for (int i = 0; i < 2000 && !stop; ++i) {
      Append(path_, more.NextBytes(7));
      std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
  });
  StatsFile file(path_, 50, 16);
  for (int i = 0; i < 60; ++i) {
    const size_t before = FullScan(path_, from, to).size();
    const TUPSStatusRawData got = file.ReadStatsRange(from, to);
    const TUPSStatusRawData after = FullScan(path_, from, to);
    ASSERT_GE(got.size(), before);
    ASSERT_LE(got.size(), after.size());
    for (size_t k = 0; k < got.size(); ++k) ASSERT_EQ(got[k], after[k]) << "read " << i;
  }
  stop = true;
  writer.join();
}

}  // namespace
}  // namespace qelta
