#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "link/status_records.h"
#include "stats/range_read.h"
#include "stats/stats_index.h"

namespace qelta {

// The statistics file of `exe_path`: the same path with the extension of the file name
// replaced by ".stats", or ".stats" appended when the name has none. Only the last path
// component is looked at, and a leading dot (a hidden file) does not start an extension:
// "bin/qelta-monitor" gives "bin/qelta-monitor.stats", "/opt/monitor.exe" gives
// "/opt/monitor.stats".
std::string StatsFilePathForExecutable(const std::string& exe_path);

// The full path of the running executable (symbolic links resolved); empty when unknown.
std::string RunningExecutablePath();

// Where the statistics go: beside the executable (StatsFilePathForExecutable) when its folder
// is writable, else "QELTA/qelta-monitor.stats" in the user's data folder `data_home`, so
// that a program installed in a system folder still keeps its samples.
std::string StatsFilePathFor(const std::string& exe_path, bool exe_folder_writable,
                             const std::string& data_home);

// The user's data folder: $XDG_DATA_HOME when it is set to an absolute path, else
// ~/.local/share; empty when neither is known.
std::string UserDataHome();

// The statistics file of the running executable (StatsFilePathFor). When it is the one in the
// user's data folder, that folder is created if missing.
std::string DefaultStatsFilePath();

// The statistics file: a headerless sequence of 112-byte records (EncodeStatusRaw), in the
// order they were appended. The file is opened and exclusively locked around every single
// operation and closed afterwards. While another opener holds the lock, appends are dropped
// and reads come back empty, silently.
//
// So that one day comes back at once from years of samples, range reads keep a summary of the
// time range of each block of records (StatsIndex), in memory and in a side file beside the
// statistics file (IndexFilePathFor). The summary only decides which blocks need not be
// read. It is relied on only for the file exactly as a read or an append of this class last
// saw it (device, inode, size, times), after checking the first and last records of some of
// its blocks and of every block read; otherwise it is dropped and the whole file is read.
// An append brings the summary forward to the file after it only when it wrote its record
// whole while no one else had the file open (a lease: another opener waits until the append
// is done, so a writer that takes no lock cannot change the file unseen meanwhile; where the
// file system or the file's owner allows no lease, the append vouches without one).
// So every read returns what a read of the whole file would.
//
// A read may run on a worker thread while the user-interface thread appends: an append that
// finds an operation under way is not dropped but queued, and the operation writes it, in
// order, when it is done. A read so never counts a sample that was appended meanwhile.
class StatsFile {
 public:
  // Records read per chunk: the reader holds no more of the file than this at a time,
  // besides the records it keeps. 9216 records are 1,032,192 bytes (just under 1 MiB), a
  // whole number of 4 KiB pages, so every chunk starts on a page boundary.
  static constexpr size_t kDefaultChunkRecords = 9216;
  // Records per summarised block: 2048 records are 229,376 bytes (56 pages), about 1.7 hours
  // of 3-second samples; a year of them is summarised in about 5,100 blocks (120 KB).
  static constexpr size_t kDefaultBlockRecords = 2048;
  // Summarised blocks whose first and last records are read back before a read relies on the
  // summary (besides those it reads anyway).
  static constexpr size_t kDefaultProbedBlocks = 64;

  // The file of the running executable.
  StatsFile();
  explicit StatsFile(std::string path, size_t chunk_records = kDefaultChunkRecords,
                     size_t block_records = kDefaultBlockRecords);
  virtual ~StatsFile();

  StatsFile(const StatsFile&) = delete;
  StatsFile& operator=(const StatsFile&) = delete;

  const std::string& path() const { return path_; }

  // Opens the existing file for reading and writing, creating it empty when it does not
  // exist (an existing file is never truncated), and takes the exclusive lock without
  // waiting. True when the file is open afterwards; an open file is reused.
  bool OpenStatsFile();
  // Closes the file (and so releases the lock) if it is open.
  void CloseStatsFile();

  // Writes `Sample` at the end of the last whole record, overwriting a trailing fragment left
  // by an interrupted write. Every failure is swallowed: the sample is then not recorded.
  // A summary (in memory or in the side file) that described the file before the append is
  // brought forward to the file after it.
  // The append never waits for a read under way on another thread: the sample is then
  // written when that read ends.
  void AppendStatsRecord(const TUPSStatusRaw& Sample);

  // Replaces `Records` with the records whose time t satisfies FromTime <= t <= ToTime
  // (unsigned) and t != 0, in file order. Only the blocks that the summary cannot rule out
  // are read, in chunks, and the records after the summarised blocks; a trailing fragment is
  // ignored. When the file cannot be opened `Records` becomes empty. A read error stops the
  // read and keeps what was found before it. If memory runs out, std::bad_alloc reaches the
  // caller with the file closed and `Records` unchanged.
  void ReadStatsRange(uint32_t FromTime, uint32_t ToTime, TUPSStatusRawData& Records);
  TUPSStatusRawData ReadStatsRange(uint32_t FromTime, uint32_t ToTime);
  // The same read, handing each record in range to `sink` as it is read instead of keeping
  // it. True when the whole file was read (false also when it could not be opened, and when
  // the sink cancelled the read).
  bool ReadStatsRange(uint32_t FromTime, uint32_t ToTime, RecordSink& sink);

  // Samples queued by appends that met an operation under way, not yet written.
  size_t queued_appends() const;

  // What the last range read looked at.
  const RangeReadReport& last_read() const { return last_read_; }
  bool last_read_loaded_side_file() const { return last_read_loaded_side_file_; }

 protected:
  // Called by an append right after its record is written, before the summaries are brought
  // forward; a test puts another writer's change there.
  virtual void AfterRecordWritten() {}

 private:
  // The summary to start from for the file as it is now, and how many of its blocks may be
  // relied on: the one in memory, else the side file's.
  size_t ChooseIndex(const FileIdentity& now);
  // After an append of `written` at `written_at` to the open file, which was `before` it,
  // with no one else having the file open: the summaries in memory and in the side file that
  // described the file as it was now describe it as it is, if the file now ends with that
  // record.
  void VouchForAppend(const FileIdentity& before, uint64_t written_at,
                      const StatusRawBytes& written);
  // The append itself, with the operation lock held.
  void AppendHeld(const TUPSStatusRaw& Sample);
  // Ends an operation: writes the appends queued meanwhile, then releases the operation lock.
  void EndOperation();

  std::string path_;
  size_t chunk_records_;
  size_t block_records_;
  int StatsStream = -1;  // open descriptor during one operation, -1 otherwise
  std::optional<StatsIndex> index_;
  // The identity the side file was last seen or made to hold.
  std::optional<FileIdentity> side_file_identity_;
  // Held for the whole of one operation; it guards everything above.
  std::mutex operation_;
  // Appends that found `operation_` held, in order; guarded by `queue_mutex_`.
  mutable std::mutex queue_mutex_;
  std::vector<TUPSStatusRaw> queued_;
  RangeReadReport last_read_;
  bool last_read_loaded_side_file_ = false;
};

}  // namespace qelta
