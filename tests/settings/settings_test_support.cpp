#include "settings_test_support.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace qelta::testing {

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  if (!out.flush()) throw std::runtime_error("cannot write " + path);
}

std::vector<std::string> FolderEntries(const std::string& folder) {
  std::vector<std::string> names;
  if (DIR* dir = ::opendir(folder.c_str())) {
    while (const dirent* entry = ::readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(dir);
  }
  std::sort(names.begin(), names.end());
  return names;
}

WriterProcess StartWriter(const std::string& folder, const std::string& prefix, int count) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);

  std::vector<std::string> variables = {
      "QELTA_SETTINGS_CHILD=writer", "QELTA_SETTINGS_FOLDER=" + folder,
      "QELTA_SETTINGS_PREFIX=" + prefix, "QELTA_SETTINGS_COUNT=" + std::to_string(count)};
  for (char** variable = environ; *variable != nullptr; ++variable) {
    if (std::string(*variable).rfind("QELTA_SETTINGS_", 0) != 0) variables.emplace_back(*variable);
  }
  std::vector<char*> env;
  for (std::string& variable : variables) env.push_back(variable.data());
  env.push_back(nullptr);
  char program[] = "/proc/self/exe";
  char* argv[] = {program, nullptr};

  WriterProcess writer;
  const int result = ::posix_spawn(&writer.pid, program, &actions, nullptr, argv, env.data());
  posix_spawn_file_actions_destroy(&actions);
  ::close(fds[1]);
  if (result != 0) {
    ::close(fds[0]);
    throw std::runtime_error("posix_spawn failed");
  }
  writer.output = fds[0];
  return writer;
}

bool ReadReport(int fd, int& index) {
  std::string line;
  char c;
  for (;;) {
    const ssize_t got = ::read(fd, &c, 1);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    if (c == '\n') break;
    line += c;
  }
  index = std::stoi(line);
  return true;
}

FileSizeLimit::FileSizeLimit(long bytes) {
  rlimit limit{};
  ::getrlimit(RLIMIT_FSIZE, &limit);
  old_soft_ = limit.rlim_cur;
  old_handler_ = ::signal(SIGXFSZ, SIG_IGN);
  limit.rlim_cur = static_cast<rlim_t>(bytes);
  if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) throw std::runtime_error("setrlimit");
}

FileSizeLimit::~FileSizeLimit() {
  rlimit limit{};
  ::getrlimit(RLIMIT_FSIZE, &limit);
  limit.rlim_cur = old_soft_;
  ::setrlimit(RLIMIT_FSIZE, &limit);
  ::signal(SIGXFSZ, old_handler_);
}

}  // namespace qelta::testing
