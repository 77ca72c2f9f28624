// What others can put beside the statistics file, and reads that run long: a FIFO or a link
// where the side file goes, appends while a read runs on another thread, and the memory a
// refresh needs for a file of today's records only.
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "stats/day_loader.h"
#include "stats/range_read.h"
#include "stats/stats.h"
#include "stats/stats_index_file.h"

namespace qelta {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

TUPSStatusRaw Sample(uint32_t time, const char* input = "230.0") {
  TUPSStatusRaw r;
  r.time = time;
  r.IP_voltage = DecimalToExtended(input);
  r.OP_voltage = DecimalToExtended("220.0");
  return r;
}

std::string FileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

std::vector<uint32_t> Times(const TUPSStatusRawData& records) {
  std::vector<uint32_t> times;
  for (const TUPSStatusRaw& r : records) times.push_back(r.time);
  return times;
}

// Writes `count` records one second apart from `first`, in one go.
void WriteRecords(const std::string& path, uint32_t first, size_t count) {
  std::vector<uint8_t> bytes;
  bytes.reserve(count * kStatusRawSize);
  for (size_t i = 0; i < count; ++i) {
    const StatusRawBytes b = EncodeStatusRaw(Sample(first + static_cast<uint32_t>(i % 86400)));
    bytes.insert(bytes.end(), b.begin(), b.end());
  }
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

class StatsHazardsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    path_ = dir_.path().toStdString() + "/qelta-monitor.stats";
    side_ = IndexFilePathFor(path_);
  }

  // Runs `work`; if it has not ended within a minute, frees whatever it waits for on the
  // FIFOs by holding both of their ends open, and fails.
  void EndsWithoutWaiting(const std::function<void()>& work,
                          const std::vector<std::string>& fifos) {
    std::future<void> done = std::async(std::launch::async, work);
    if (done.wait_for(60s) == std::future_status::ready) return;
    ADD_FAILURE() << "held by a FIFO";
    signal(SIGPIPE, SIG_IGN);
    std::vector<int> ends;
    for (const std::string& fifo : fifos) {
      for (int flags : {O_RDONLY | O_NONBLOCK, O_WRONLY | O_NONBLOCK}) {
        const int fd = open(fifo.c_str(), flags);
        if (fd >= 0) ends.push_back(fd);
      }
    }
    done.wait();
    for (int fd : ends) close(fd);
  }

  QTemporaryDir dir_;
  std::string path_;
  std::string side_;
};

// A FIFO at the side file's name, and one at the name its temporary file had: neither holds
// a read or an append, and the read gives the file's records.
TEST_F(StatsHazardsTest, AFifoWhereTheSideFileGoesHoldsNothing) {
  WriteRecords(path_, 5000, 3000);
  const std::string old_temporary = side_ + ".tmp" + std::to_string(getpid());
  ASSERT_EQ(mkfifo(side_.c_str(), 0600), 0);
  ASSERT_EQ(mkfifo(old_temporary.c_str(), 0600), 0);
  StatsFile file(path_, 64, 16);
  TUPSStatusRawData records;
  EndsWithoutWaiting(
      [&] {
        file.AppendStatsRecord(Sample(9000));
        records = file.ReadStatsRange(5000, 5009);
        file.AppendStatsRecord(Sample(9001));
      },
      {side_, old_temporary});
  EXPECT_EQ(Times(records),
            (std::vector<uint32_t>{5000, 5001, 5002, 5003, 5004, 5005, 5006, 5007, 5008, 5009}));
  EXPECT_EQ(fs::file_size(path_), 3002 * kStatusRawSize);
  // The read's summary went into a regular file of its own.
  struct stat info;
  ASSERT_EQ(lstat(side_.c_str(), &info), 0);
  EXPECT_TRUE(S_ISREG(info.st_mode));
  EXPECT_TRUE(LoadIndexFile(side_, 16).has_value());
}

// A link at the side file's name, or at the name its temporary file had, is never written
// through: the files they point to stay as they were.
TEST_F(StatsHazardsTest, ALinkWhereTheSideFileGoesIsNeverWrittenThrough) {
  WriteRecords(path_, 5000, 100);
  const std::string victim = dir_.path().toStdString() + "/victim";
  WriteText(victim, "not yours\n");
  const std::string old_temporary = side_ + ".tmp" + std::to_string(getpid());
  ASSERT_EQ(symlink(victim.c_str(), old_temporary.c_str()), 0);
  StatsFile file(path_, 64, 16);
  EXPECT_EQ(file.ReadStatsRange(5000, 5001).size(), 2u);
  EXPECT_EQ(FileText(victim), "not yours\n");
  struct stat info;
  ASSERT_EQ(lstat(side_.c_str(), &info), 0);
  EXPECT_TRUE(S_ISREG(info.st_mode));

  // A side file that describes the file exactly, moved away and linked to: an append would
  // rewrite its header, a read would take it for ours.
  const std::string other = dir_.path().toStdString() + "/other.idx";
  ASSERT_EQ(rename(side_.c_str(), other.c_str()), 0);
  ASSERT_EQ(symlink(other.c_str(), side_.c_str()), 0);
  const std::string before = FileText(other);
  StatsFile restarted(path_, 64, 16);
  restarted.AppendStatsRecord(Sample(6000));
  EXPECT_TRUE(FileText(other) == before) << "the linked file was written";
  EXPECT_EQ(Times(restarted.ReadStatsRange(6000, 6000)), std::vector<uint32_t>{6000});
  EXPECT_FALSE(restarted.last_read_loaded_side_file());
  EXPECT_TRUE(FileText(other) == before) << "the linked file was written";
  ASSERT_EQ(lstat(side_.c_str(), &info), 0);
  EXPECT_TRUE(S_ISREG(info.st_mode));
}

// Sets a file's (or a link's own) modification time `seconds` into the past.
void AgeBy(const std::string& path, int seconds) {
  struct timespec times[2];
  clock_gettime(CLOCK_REALTIME, &times[0]);
  times[0].tv_sec -= seconds;
  times[1] = times[0];
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << path;
}

// A save of the side file cut short (the process killed) leaves its temporary file: the next
// save removes it, and nothing else that only looks like one.
TEST_F(StatsHazardsTest, TemporariesOfSavesCutShortGoAtTheNextSave) {
  WriteRecords(path_, 5000, 100);
  const std::string folder = dir_.path().toStdString();
  const std::string victim = folder + "/victim";
  WriteText(victim, "not yours\n");
  // What a killed save leaves: a whole or a partial side file under a mkostemp name.
  const std::string left_whole = side_ + ".tmp-Ab3xY9";
  const std::string left_partial = side_ + ".tmp-000000";
  WriteText(left_whole, std::string(4096, 'x'));
  WriteText(left_partial, "");
  // Names that only look like ours, or are not regular files of ours.
  const std::string fresh = side_ + ".tmp-Fresh1";  // a save that may still be writing
  const std::string link = side_ + ".tmp-Link01";
  const std::string fifo = side_ + ".tmp-Fifo01";
  const std::string folder_entry = side_ + ".tmp-Dir001";
  const std::string longer = side_ + ".tmp-Ab3xY9z";
  const std::string dotted = side_ + ".tmp-Ab.xY9";
  const std::string foreign = folder + "/other.stats.idx.tmp-Ab3xY9";
  WriteText(fresh, "x");
  ASSERT_EQ(symlink(victim.c_str(), link.c_str()), 0);
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  ASSERT_EQ(mkdir(folder_entry.c_str(), 0700), 0);
  WriteText(longer, "x");
  WriteText(dotted, "x");
  WriteText(foreign, "x");
  const int stale = static_cast<int>(kStaleIndexTemporaryAge) + 30;
  for (const std::string& path :
       {left_whole, left_partial, link, fifo, folder_entry, longer, dotted, foreign}) {
    AgeBy(path, stale);
  }
  AgeBy(fresh, static_cast<int>(kStaleIndexTemporaryAge) - 30);

  StatsFile file(path_, 64, 16);
  EXPECT_EQ(file.ReadStatsRange(5000, 5001).size(), 2u);  // makes and saves the summary
  ASSERT_TRUE(LoadIndexFile(side_, 16).has_value());
  EXPECT_FALSE(fs::exists(fs::symlink_status(left_whole)));
  EXPECT_FALSE(fs::exists(fs::symlink_status(left_partial)));
  for (const std::string& kept : {fresh, link, fifo, folder_entry, longer, dotted, foreign}) {
    EXPECT_TRUE(fs::exists(fs::symlink_status(kept))) << kept;
  }
  EXPECT_EQ(FileText(victim), "not yours\n");
  // The save itself left nothing of its own.
  size_t temporaries = 0;
  for (const auto& entry : fs::directory_iterator(folder)) {
    if (entry.path().filename().string().starts_with("qelta-monitor.stats.idx.tmp-")) ++temporaries;
  }
  EXPECT_EQ(temporaries, 6u);
}

// A statistics file whose next append lets another writer in right after its record is
// written, before the summaries are brought forward.
class InterruptedStatsFile : public StatsFile {
 public:
  using StatsFile::StatsFile;
  std::function<void()> meanwhile;

 protected:
  void AfterRecordWritten() override {
    if (!meanwhile) return;
    const std::function<void()> once = std::move(meanwhile);
    meanwhile = nullptr;
    once();
  }
};

void WriteStamp(int fd, uint32_t time, off_t at) {
  const uint8_t stamp[4] = {static_cast<uint8_t>(time), static_cast<uint8_t>(time >> 8),
                            static_cast<uint8_t>(time >> 16), static_cast<uint8_t>(time >> 24)};
  ASSERT_EQ(pwrite(fd, stamp, sizeof stamp, at), static_cast<ssize_t>(sizeof stamp));
}

// Someone who takes no lock rewrites a record in place while the monitor appends: the day's
// read finds the record, although it lies in a block the summary says the day is not in.
TEST_F(StatsHazardsTest, AWriterThatTakesNoLockIsSeenEvenInTheMiddleOfAnAppend) {
  constexpr uint32_t kLate = 9'000'000;
  WriteRecords(path_, 5000, 64 * 20);
  StatsFile window(path_, 64, 64);
  InterruptedStatsFile monitor(path_, 64, 64);
  EXPECT_TRUE(window.ReadStatsRange(kLate, kLate).empty());  // summarised and saved
  const auto middle_of = [](size_t block) {
    return static_cast<off_t>((64 * block + 30) * kStatusRawSize);
  };

  // A writer that opens the file in the middle of the append, and writes once it may.
  bool written_meanwhile = false;
  monitor.meanwhile = [&] {
    const int fd = open(path_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return;
    WriteStamp(fd, kLate, middle_of(7));
    close(fd);
    written_meanwhile = true;
  };
  monitor.AppendStatsRecord(Sample(8000));
  if (!written_meanwhile) {
    const int fd = open(path_.c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    WriteStamp(fd, kLate, middle_of(7));
    close(fd);
  }
  EXPECT_EQ(Times(window.ReadStatsRange(kLate, kLate)), std::vector<uint32_t>{kLate});

  // A writer that had the file open before the append and writes in its middle.
  const int writer = open(path_.c_str(), O_WRONLY | O_CLOEXEC);
  ASSERT_GE(writer, 0);
  monitor.meanwhile = [&] { WriteStamp(writer, kLate + 1, middle_of(12)); };
  monitor.AppendStatsRecord(Sample(8001));
  close(writer);
  EXPECT_EQ(Times(window.ReadStatsRange(kLate, kLate + 1)),
            (std::vector<uint32_t>{kLate, kLate + 1}));

  // With no one else about, appends still carry the summary forward.
  monitor.AppendStatsRecord(Sample(8002));
  EXPECT_EQ(Times(window.ReadStatsRange(8000, 8002)), (std::vector<uint32_t>{8000, 8001, 8002}));
  EXPECT_EQ(window.last_read().blocks_relied_on, 20u);
  // Blocks 7 and 12 now reach the late stamps, so they may hold the range; the rest is skipped.
  EXPECT_EQ(window.last_read().records_read, 2 * 64 + 3u);
}

// A sink that, in the middle of the read, has another thread append (as the polling thread
// does while the statistics window reads on its worker).
class AppendingSink : public RecordSink {
 public:
  AppendingSink(StatsFile& file, std::vector<uint32_t> appended)
      : file_(file), appended_(std::move(appended)) {}
  void Take(const uint8_t* record) override {
    times.push_back(DecodeStatusRaw(record).time);
    if (times.size() != 5) return;
    std::thread poller([&] {
      for (uint32_t t : appended_) file_.AppendStatsRecord(Sample(t));
    });
    poller.join();
    queued_meanwhile = file_.queued_appends();
  }
  void Restart() override { times.clear(); }

  std::vector<uint32_t> times;
  size_t queued_meanwhile = 0;

 private:
  StatsFile& file_;
  std::vector<uint32_t> appended_;
};

// Appends that meet a read under way are neither lost nor read by it: they are written, once
// each and in order, when the read ends.
TEST_F(StatsHazardsTest, AppendsDuringAReadOnAnotherThreadAreWrittenOnceAfterIt) {
  WriteRecords(path_, 1000, 40);
  StatsFile file(path_, 8, 16);
  AppendingSink sink(file, {1040, 1041, 1042});
  ASSERT_TRUE(file.ReadStatsRange(0, UINT32_MAX, sink));
  EXPECT_EQ(sink.queued_meanwhile, 3u);
  EXPECT_EQ(sink.times.size(), 40u);  // the file as it was when the read began
  EXPECT_EQ(file.queued_appends(), 0u);
  const TUPSStatusRawData all = file.ReadStatsRange(0, UINT32_MAX);
  ASSERT_EQ(all.size(), 43u);
  for (size_t i = 0; i < all.size(); ++i) EXPECT_EQ(all[i].time, 1000 + i) << i;
  // The summary kept by the read still describes the file after the appends.
  EXPECT_EQ(file.last_read().blocks_relied_on, 2u);
}

long StatusKilobytes(const char* key) {
  std::ifstream status("/proc/self/status");
  const std::string prefix = std::string(key) + ":";
  for (std::string line; std::getline(status, line);) {
    if (line.starts_with(prefix)) return std::strtol(line.c_str() + prefix.size(), nullptr, 10);
  }
  return -1;
}

// A refresh of a day for a file whose records all carry that day needs the day's seconds and
// a chunk of the file, not the records: the peak memory does not grow with the file.
TEST_F(StatsHazardsTest, ARefreshNeedsNoMoreMemoryForAFileOfTheDaysRecordsOnly) {
  constexpr uint32_t kDay = 1'700'006'400;  // a midnight
  constexpr size_t kRecords = 600'000;      // 67 MB, every record of that day
  WriteRecords(path_, kDay, kRecords);
  StatsFile file(path_);
  std::promise<void> finished;
  DayLoader loader(file, [&] { finished.set_value(); });
  // The peak resident size starts again from the present one.
  std::ofstream("/proc/self/clear_refs") << "5";
  const long resident = StatusKilobytes("VmRSS");
  ASSERT_GT(resident, 0);
  ASSERT_TRUE(loader.Start(kDay));
  ASSERT_EQ(finished.get_future().wait_for(120s), std::future_status::ready);
  const std::optional<DayColumns> columns = loader.Finish();
  const long grown = StatusKilobytes("VmHWM") - resident;
  ASSERT_TRUE(columns.has_value());
  for (int j = 0; j < kDayColumns; ++j) ASSERT_EQ(columns->BinState[j], kBinMains) << j;
  EXPECT_EQ(columns->InputBins[0], 70);
  // The records alone would take 67 MB; the seconds take 1.4 MB, a chunk 1 MB.
  EXPECT_LT(grown, 24 * 1024) << "kB";
}

}  // namespace
}  // namespace qelta
