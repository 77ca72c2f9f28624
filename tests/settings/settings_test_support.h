#pragma once

#include <sys/types.h>

#include <QString>
#include <QStringList>
#include <string>
#include <vector>

#include "platform/error_reporter.h"

namespace qelta::testing {

// Remembers every error shown.
class RecordingReporter : public ErrorReporter {
 public:
  void ShowError(const QString& message) override { messages.append(message); }
  QStringList messages;
};

std::string ReadText(const std::string& path);
void WriteText(const std::string& path, const std::string& text);
// Names in a folder, sorted, without "." and "..".
std::vector<std::string> FolderEntries(const std::string& folder);

// A copy of this test program started as a settings writer (see child_writer.cpp): it writes
// the integer i to section "Keys", key prefix+i, for i = 0..count-1, and after each completed
// write prints "i\n" on the pipe read through `output`.
struct WriterProcess {
  pid_t pid = -1;
  int output = -1;
};
WriterProcess StartWriter(const std::string& folder, const std::string& prefix, int count);

// Reads one line from a writer's output; false at the end of the output.
bool ReadReport(int fd, int& index);

// While alive, files this process writes cannot grow beyond `bytes` (and the signal that would
// end the process is ignored), so writes fail even for root.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(long bytes);
  ~FileSizeLimit();
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  unsigned long old_soft_;
  void (*old_handler_)(int);
};

}  // namespace qelta::testing
