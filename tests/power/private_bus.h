#pragma once

// A private D-Bus bus daemon for tests. Header-only, without Qt, so that any test program can
// start one at the top of main(), before anything in the process touches a bus, and point
// DBUS_SYSTEM_BUS_ADDRESS or DBUS_SESSION_BUS_ADDRESS at it.

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <utility>

namespace qelta::testing {

// Runs `dbus-daemon --nofork` with a configuration that lets every client own any name and send
// anything, listening on a socket in a fresh folder under /tmp. Address() is the bus address (empty
// when the daemon could not be started). The daemon is stopped and its folder removed when the
// object goes; it also ends when the process that started it dies. Given a folder of service
// files, the bus starts those services on demand.
class PrivateDbusDaemon {
 public:
  explicit PrivateDbusDaemon(std::string service_dir = {}) : service_dir_(std::move(service_dir)) {
    Start();
  }
  ~PrivateDbusDaemon() { Stop(); }
  PrivateDbusDaemon(const PrivateDbusDaemon&) = delete;
  PrivateDbusDaemon& operator=(const PrivateDbusDaemon&) = delete;

  bool Running() const { return !address_.empty(); }
  const std::string& Address() const { return address_; }

 private:
  void Start() {
    std::string dir_template = "/tmp/qelta-dbus-XXXXXX";
    if (mkdtemp(dir_template.data()) == nullptr) return;
    dir_ = dir_template;
    const std::string config = dir_ + "/bus.conf";
    {
      std::ofstream out(config);
      out << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
             " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
             "<busconfig>\n"
             "  <type>session</type>\n"
             "  <listen>unix:dir="
          << dir_
          << "</listen>\n"
             "  <auth>EXTERNAL</auth>\n";
      if (!service_dir_.empty()) out << "  <servicedir>" << service_dir_ << "</servicedir>\n";
      out << "  <policy context=\"default\">\n"
             "    <allow user=\"*\"/>\n"
             "    <allow own=\"*\"/>\n"
             "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
             "    <allow eavesdrop=\"true\"/>\n"
             "  </policy>\n"
             "</busconfig>\n";
      if (!out) return;
    }
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return;
    // Everything the child needs is prepared before fork(): it only calls async-signal-safe
    // functions until exec.
    const std::string config_arg = "--config-file=" + config;
    const pid_t parent = getpid();
    pid_ = fork();
    if (pid_ < 0) {
      pid_ = 0;
      close(fds[0]);
      close(fds[1]);
      return;
    }
    if (pid_ == 0) {
      prctl(PR_SET_PDEATHSIG, SIGTERM);
      if (getppid() != parent) _exit(1);
      dup2(fds[1], STDOUT_FILENO);
      execlp("dbus-daemon", "dbus-daemon", config_arg.c_str(), "--print-address=1", "--nofork",
             "--nopidfile", static_cast<char*>(nullptr));
      _exit(127);
    }
    close(fds[1]);
    std::string line;
    for (;;) {
      pollfd pfd{fds[0], POLLIN, 0};
      if (poll(&pfd, 1, 10000) <= 0) break;
      char c;
      if (read(fds[0], &c, 1) != 1 || c == '\n') break;
      line.push_back(c);
    }
    close(fds[0]);
    if (line.empty()) {
      Stop();
      return;
    }
    address_ = line;
  }

  void Stop() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      int status = 0;
      waitpid(pid_, &status, 0);
      pid_ = 0;
    }
    address_.clear();
    if (dir_.empty()) return;
    if (DIR* dir = opendir(dir_.c_str())) {
      while (dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") unlink((dir_ + "/" + name).c_str());
      }
      closedir(dir);
    }
    rmdir(dir_.c_str());
    dir_.clear();
  }

  std::string service_dir_;
  std::string dir_;
  std::string address_;
  pid_t pid_ = 0;
};

}  // namespace qelta::testing
