#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "stats/stats.h"

namespace qelta {
namespace {

namespace fs = std::filesystem;

using Bytes = std::vector<uint8_t>;

// A record whose every field differs from record to record and from zero.
TUPSStatusRaw MakeRecord(uint32_t time, uint8_t seed = 1) {
  TUPSStatusRaw r;
  r.time = time;
  auto ext = [seed](uint8_t field) {
    Extended e;
    for (size_t i = 0; i < e.bytes.size(); ++i)
      e.bytes[i] = static_cast<uint8_t>(seed + field * 11 + i);
    return e;
  };
  r.IP_voltage = ext(1);
  r.IP_fault_voltage = ext(2);
  r.OP_voltage = ext(3);
  r.OP_current = -1000 - seed;
  r.OP_frequency = ext(4);
  r.battery_voltage = ext(5);
  r.temp = ext(6);
  r.status_using_battery = seed & 1;
  r.status_battery_low = true;
  r.status_avr = false;
  r.status_ups_failed = seed & 2;
  r.status_ups_is_line_interactive = true;
  r.status_testing = false;
  r.status_shutdown = seed & 4;
  r.status_beeper = true;
  return r;
}

Bytes Encoded(const TUPSStatusRaw& r) {
  StatusRawBytes b = EncodeStatusRaw(r);
  return Bytes(b.begin(), b.end());
}

Bytes FileBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const fs::path& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(out.good());
}

Bytes EncodeAll(const std::vector<TUPSStatusRaw>& records) {
  Bytes out;
  for (const auto& r : records) {
    Bytes b = Encoded(r);
    out.insert(out.end(), b.begin(), b.end());
  }
  return out;
}

std::vector<uint32_t> Times(const TUPSStatusRawData& records) {
  std::vector<uint32_t> times;
  for (const auto& r : records) times.push_back(r.time);
  return times;
}

// True when another opener can take the file's exclusive lock right now.
bool LockIsFree(const fs::path& path) {
  int fd = open(path.c_str(), O_RDWR);
  if (fd < 0) return false;
  bool free = flock(fd, LOCK_EX | LOCK_NB) == 0;
  close(fd);
  return free;
}

class StatsFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "qelta-stats-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    path_ = dir_ / "qelta-monitor.stats";
  }
  void TearDown() override {
    std::error_code ec;
    fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(dir_, ec);
  }

  fs::path dir_;
  fs::path path_;
};

TEST(StatsFilePath, ReplacesOrAppendsTheExtensionOfTheFileName) {
  EXPECT_EQ(StatsFilePathForExecutable("bin/qelta-monitor"), "bin/qelta-monitor.stats");
  EXPECT_EQ(StatsFilePathForExecutable("/opt/tools/monitor.exe"), "/opt/tools/monitor.stats");
  EXPECT_EQ(StatsFilePathForExecutable("/opt/v1.0/monitor"), "/opt/v1.0/monitor.stats");
  EXPECT_EQ(StatsFilePathForExecutable("/opt/monitor.tar.gz"), "/opt/monitor.tar.stats");
  EXPECT_EQ(StatsFilePathForExecutable("/opt/monitor."), "/opt/monitor.stats");
  EXPECT_EQ(StatsFilePathForExecutable("/opt/.monitor"), "/opt/.monitor.stats");
}

TEST(StatsFilePath, UnwritableProgramFolderFallsBackToTheUserDataFolder) {
  // Writable: beside the executable, whatever the data folder.
  EXPECT_EQ(StatsFilePathFor("/home/u/bin/qelta-monitor", true, "/home/u/.local/share"),
            "/home/u/bin/qelta-monitor.stats");
  // Not writable: one fixed name in the data folder, whatever the executable is called.
  EXPECT_EQ(StatsFilePathFor("/usr/bin/qelta-monitor", false, "/home/u/.local/share"),
            "/home/u/.local/share/QELTA/qelta-monitor.stats");
  EXPECT_EQ(StatsFilePathFor("/usr/bin/monitor.exe", false, "/d"), "/d/QELTA/qelta-monitor.stats");
  // No data folder known: no file, rather than one relative to the working folder.
  EXPECT_EQ(StatsFilePathFor("/usr/bin/qelta-monitor", false, ""), "");
}

TEST(StatsFilePath, UserDataHomeFollowsXdgDataHomeThenHome) {
  const char* saved_data = std::getenv("XDG_DATA_HOME");
  const char* saved_home = std::getenv("HOME");
  const std::string data = saved_data != nullptr ? saved_data : "";
  const std::string home = saved_home != nullptr ? saved_home : "";

  setenv("HOME", "/home/someone", 1);
  setenv("XDG_DATA_HOME", "/elsewhere/data", 1);
  EXPECT_EQ(UserDataHome(), "/elsewhere/data");
  // A relative XDG_DATA_HOME is ignored, as the base directory rules say.
  setenv("XDG_DATA_HOME", "relative/data", 1);
  EXPECT_EQ(UserDataHome(), "/home/someone/.local/share");
  unsetenv("XDG_DATA_HOME");
  EXPECT_EQ(UserDataHome(), "/home/someone/.local/share");
  unsetenv("HOME");
  EXPECT_EQ(UserDataHome(), "");

  if (saved_home != nullptr) setenv("HOME", home.c_str(), 1);
  if (saved_data != nullptr) setenv("XDG_DATA_HOME", data.c_str(), 1);
}

TEST(StatsFilePath, DefaultIsBesideTheRunningExecutable) {
  fs::path expected = fs::canonical(QELTA_BIN_DIR) / "test_stats.stats";
  EXPECT_EQ(DefaultStatsFilePath(), expected.string());
  EXPECT_EQ(StatsFile().path(), expected.string());
}

TEST_F(StatsFileTest, FirstAppendCreatesAFileOfExactlyThatRecord) {
  StatsFile file(path_.string());
  TUPSStatusRaw sample = MakeRecord(1'700'000'000, 7);
  file.AppendStatsRecord(sample);
  EXPECT_EQ(FileBytes(path_), Encoded(sample));

  // Read back, the record is the same byte for byte (padding included) and field for field.
  TUPSStatusRawData read = file.ReadStatsRange(0, UINT32_MAX);
  ASSERT_EQ(read.size(), 1u);
  EXPECT_EQ(read[0], sample);
  EXPECT_EQ(Encoded(read[0]), FileBytes(path_));
}

TEST_F(StatsFileTest, TrailingFragmentIsIgnoredByReadsAndOverwrittenByTheNextAppend) {
  TUPSStatusRaw first = MakeRecord(100, 1);
  TUPSStatusRaw second = MakeRecord(200, 2);
  Bytes content = EncodeAll({first, second});
  // A cut-off third record whose time stamp would be in range.
  Bytes fragment = Encoded(MakeRecord(150, 3));
  fragment.resize(26);
  content.insert(content.end(), fragment.begin(), fragment.end());
  WriteFile(path_, content);
  ASSERT_EQ(fs::file_size(path_), 250u);

  StatsFile file(path_.string());
  EXPECT_EQ(Times(file.ReadStatsRange(0, UINT32_MAX)), (std::vector<uint32_t>{100, 200}));

  TUPSStatusRaw third = MakeRecord(300, 4);
  file.AppendStatsRecord(third);
  EXPECT_EQ(FileBytes(path_), EncodeAll({first, second, third}));
  EXPECT_EQ(file.ReadStatsRange(0, UINT32_MAX), (TUPSStatusRawData{first, second, third}));
}

TEST_F(StatsFileTest, RangeIsInclusiveUnsignedAndInFileOrder) {
  std::vector<TUPSStatusRaw> records;
  for (uint32_t t : {500u, 99u, 100u, 0u, 300u, 200u, 201u, 0x80000000u, 100u, UINT32_MAX})
    records.push_back(MakeRecord(t, static_cast<uint8_t>(records.size())));
  WriteFile(path_, EncodeAll(records));
  StatsFile file(path_.string());

  // Both bounds are kept; out-of-order stamps come back as they stand in the file.
  EXPECT_EQ(Times(file.ReadStatsRange(100, 300)), (std::vector<uint32_t>{100, 300, 200, 201, 100}));
  TUPSStatusRawData exact = file.ReadStatsRange(200, 200);
  ASSERT_EQ(exact.size(), 1u);
  EXPECT_EQ(exact[0], records[5]);
  // Stamps are unsigned: the top half of the range is above every small stamp.
  EXPECT_EQ(Times(file.ReadStatsRange(0x7FFFFFFF, UINT32_MAX)),
            (std::vector<uint32_t>{0x80000000u, UINT32_MAX}));
  // Time 0 is never a sample, whatever the range.
  EXPECT_EQ(file.ReadStatsRange(0, UINT32_MAX).size(), 9u);
  EXPECT_TRUE(file.ReadStatsRange(0, 0).empty());
  // No record in range, and a reversed range.
  EXPECT_TRUE(file.ReadStatsRange(1, 98).empty());
  EXPECT_TRUE(file.ReadStatsRange(300, 100).empty());
}

TEST_F(StatsFileTest, ResultReplacesWhatTheArrayHeld) {
  WriteFile(path_, EncodeAll({MakeRecord(10), MakeRecord(20)}));
  StatsFile file(path_.string());
  TUPSStatusRawData records{MakeRecord(1), MakeRecord(2), MakeRecord(3)};
  file.ReadStatsRange(20, 20, records);
  EXPECT_EQ(Times(records), std::vector<uint32_t>{20});
  file.ReadStatsRange(30, 40, records);
  EXPECT_TRUE(records.empty());
}

TEST_F(StatsFileTest, EmptyAndMissingFilesGiveNothingAndMissingOneIsCreatedEmpty) {
  StatsFile file(path_.string());
  TUPSStatusRawData records{MakeRecord(1)};
  file.ReadStatsRange(0, UINT32_MAX, records);
  EXPECT_TRUE(records.empty());
  ASSERT_TRUE(fs::exists(path_));
  EXPECT_EQ(fs::file_size(path_), 0u);

  EXPECT_TRUE(file.ReadStatsRange(0, UINT32_MAX).empty());
  EXPECT_EQ(fs::file_size(path_), 0u);
}

TEST_F(StatsFileTest, DeletedFileIsCreatedAnewAndNothingStaysOpen) {
  StatsFile file(path_.string());
  file.AppendStatsRecord(MakeRecord(1));
  file.AppendStatsRecord(MakeRecord(2));
  EXPECT_EQ(fs::file_size(path_), 2 * kStatusRawSize);
  EXPECT_TRUE(LockIsFree(path_));
  fs::remove(path_);
  file.AppendStatsRecord(MakeRecord(3));
  EXPECT_EQ(FileBytes(path_), Encoded(MakeRecord(3)));
  EXPECT_EQ(file.ReadStatsRange(0, UINT32_MAX).size(), 1u);
  EXPECT_TRUE(LockIsFree(path_));
}

// A child process that holds the file's exclusive lock until released (or destroyed).
class LockHolderProcess {
 public:
  explicit LockHolderProcess(const fs::path& path) {
    int locked[2], release[2];
    if (pipe(locked) != 0) return;
    if (pipe(release) != 0) {
      close(locked[0]);
      close(locked[1]);
      return;
    }
    pid_ = fork();
    if (pid_ == 0) {
      close(locked[0]);
      close(release[1]);
      int fd = open(path.c_str(), O_RDWR);
      char c = (fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0) ? 'L' : 'E';
      if (write(locked[1], &c, 1) != 1) _exit(2);
      while (read(release[0], &c, 1) > 0) {
      }
      _exit(0);
    }
    close(locked[1]);
    close(release[0]);
    release_ = release[1];
    char c = 0;
    holding_ = pid_ > 0 && read(locked[0], &c, 1) == 1 && c == 'L';
    close(locked[0]);
  }
  ~LockHolderProcess() { Release(); }

  bool holding() const { return holding_; }

  // Ends the child; true when it ended normally.
  bool Release() {
    if (release_ >= 0) close(release_);
    release_ = -1;
    if (pid_ <= 0) return false;
    int status = 0;
    pid_t done = waitpid(pid_, &status, 0);
    pid_ = -1;
    holding_ = false;
    return done > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }

 private:
  pid_t pid_ = -1;
  int release_ = -1;
  bool holding_ = false;
};

TEST_F(StatsFileTest, FileHeldByAnotherProcessDropsAppendsAndEmptiesReadsUntilReleased) {
  StatsFile file(path_.string());
  file.AppendStatsRecord(MakeRecord(10));

  LockHolderProcess holder(path_);
  ASSERT_TRUE(holder.holding());
  file.AppendStatsRecord(MakeRecord(20));
  EXPECT_EQ(fs::file_size(path_), kStatusRawSize);
  TUPSStatusRawData records{MakeRecord(1)};
  file.ReadStatsRange(0, UINT32_MAX, records);
  EXPECT_TRUE(records.empty());
  ASSERT_TRUE(holder.Release());

  file.AppendStatsRecord(MakeRecord(30));
  EXPECT_EQ(Times(file.ReadStatsRange(0, UINT32_MAX)), (std::vector<uint32_t>{10, 30}));
}

TEST_F(StatsFileTest, SecondOpenerInTheSameProcessIsKeptOutToo) {
  StatsFile holder(path_.string());
  StatsFile other(path_.string());
  ASSERT_TRUE(holder.OpenStatsFile());
  EXPECT_FALSE(other.OpenStatsFile());
  other.AppendStatsRecord(MakeRecord(5));
  EXPECT_EQ(fs::file_size(path_), 0u);
  holder.CloseStatsFile();
  other.AppendStatsRecord(MakeRecord(5));
  EXPECT_EQ(fs::file_size(path_), kStatusRawSize);
}

// A file the user may not write, and a folder where the file cannot be created: appends are
// dropped, reads are empty and the existing content is left as it was. Runs in a child
// process, which gives up root rights first if it has them.
TEST_F(StatsFileTest, FileThatCannotBeOpenedIsLeftAloneAndGivesNothing) {
  Bytes content = EncodeAll({MakeRecord(10), MakeRecord(20)});
  WriteFile(path_, content);
  fs::permissions(path_, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  fs::path closed_dir = dir_ / "closed";
  fs::create_directory(closed_dir);
  fs::permissions(closed_dir, fs::perms::owner_read | fs::perms::owner_exec |
                                  fs::perms::others_read | fs::perms::others_exec);
  fs::permissions(dir_, fs::perms::others_read | fs::perms::others_exec, fs::perm_options::add);

  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(3);
    StatsFile file(path_.string());
    file.AppendStatsRecord(MakeRecord(30));
    TUPSStatusRawData records{MakeRecord(1)};
    file.ReadStatsRange(0, UINT32_MAX, records);
    if (!records.empty()) _exit(1);
    StatsFile uncreatable((closed_dir / "x.stats").string());
    uncreatable.AppendStatsRecord(MakeRecord(30));
    records = {MakeRecord(1)};
    uncreatable.ReadStatsRange(0, UINT32_MAX, records);
    if (!records.empty() || access((closed_dir / "x.stats").c_str(), F_OK) == 0) _exit(2);
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 3) GTEST_SKIP() << "could not give up root rights";
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(FileBytes(path_), content);
}

// Expected result of a range read, by a plain walk over the records.
std::vector<uint32_t> Expected(const std::vector<TUPSStatusRaw>& records, uint32_t from,
                               uint32_t to) {
  std::vector<uint32_t> out;
  for (const auto& r : records)
    if (r.time != 0 && from <= r.time && r.time <= to) out.push_back(r.time);
  return out;
}

TEST_F(StatsFileTest, ReadsAcrossChunkBoundariesFindEveryRecord) {
  // Stamps that jump back and forth, with zeros among them, and a fragment at the end.
  std::vector<TUPSStatusRaw> records;
  for (uint32_t i = 0; i < 1003; ++i)
    records.push_back(MakeRecord(i % 97 == 0 ? 0 : (i * 7919u) % 1000, static_cast<uint8_t>(i)));
  Bytes content = EncodeAll(records);
  content.resize(content.size() + 50, 0x11);
  WriteFile(path_, content);

  for (size_t chunk : {1u, 4u, 7u, 1003u, 5000u}) {
    SCOPED_TRACE(chunk);
    StatsFile file(path_.string(), chunk);
    for (auto [from, to] : {std::pair<uint32_t, uint32_t>{0, UINT32_MAX}, {250, 260}, {999, 999}}) {
      TUPSStatusRawData got = file.ReadStatsRange(from, to);
      EXPECT_EQ(Times(got), Expected(records, from, to));
    }
    TUPSStatusRawData all = file.ReadStatsRange(1, UINT32_MAX);
    size_t k = 0;
    for (const auto& r : records)
      if (r.time != 0) {
        ASSERT_LT(k, all.size());
        EXPECT_EQ(all[k++], r);
      }
  }
}

TEST_F(StatsFileTest, DefaultChunkSizeBoundariesLoseNothing) {
  const uint32_t chunk = static_cast<uint32_t>(StatsFile::kDefaultChunkRecords);
  std::vector<TUPSStatusRaw> records;
  for (uint32_t i = 1; i <= 2 * chunk + 5; ++i) records.push_back(MakeRecord(i, 0));
  WriteFile(path_, EncodeAll(records));

  StatsFile file(path_.string());
  EXPECT_EQ(file.ReadStatsRange(1, UINT32_MAX).size(), records.size());
  // Records k are stamped k + 1; the chunk boundaries lie after stamps chunk and 2 * chunk.
  EXPECT_EQ(Times(file.ReadStatsRange(chunk - 2, chunk + 3)),
            Expected(records, chunk - 2, chunk + 3));
  EXPECT_EQ(Times(file.ReadStatsRange(2 * chunk, 2 * chunk + 5)),
            Expected(records, 2 * chunk, 2 * chunk + 5));
  EXPECT_EQ(file.ReadStatsRange(2 * chunk + 1, 2 * chunk + 1).size(), 1u);
}

}  // namespace
}  // namespace qelta
