// qelta-upssim: a UPS on a pseudo-terminal that speaks the "Q1" protocol.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "link/modems.h"
#include "link/no_hid_branch.h"
#include "link/serial_port.h"
#include "link/ups.h"
#include "platform/wall_clock.h"
#include "settings/memory_settings.h"
#include "tools/upssim/ups_model.h"

namespace {

using qelta::upssim::SimulatedUps;
using Clock = SimulatedUps::Clock;

constexpr size_t kMaxCommandLength = 64;

volatile sig_atomic_t g_stop = 0;
void OnSignal(int) {
  g_stop = 1;
}

void Usage(FILE* out) {
  std::fputs(
      "Usage: qelta-upssim [options]\n"
      "       qelta-upssim --query DEVICE|PORT\n"
      "Simulates a UPS on a pseudo-terminal. The first line printed is the terminal's path;\n"
      "give it to the monitor as the device of a COM port (setting Ports/COM1).\n"
      "The UPS answers \"Q1\\r\" with its status line, starts a 10-second self-test on\n"
      "\"T\\r\" and toggles its beeper on \"Q\\r\".\n\n"
      "Options:\n"
      "  --link PATH        also make PATH a symbolic link to the terminal (replaces an old link;\n"
      "                     removed at the end unless another simulator has taken it over)\n"
      "  --query DEVICE     do not simulate: send one status query to DEVICE (a device path, or\n"
      "                     a port name such as COM1) and print the readings; exit status 0 when\n"
      "                     a valid reply came\n"
      "  --help             show this text\n"
      "  --COMMAND[=VALUE]  any command below, applied at start (e.g. --battery --drain=0.05\n"
      "                     --pace=instant)\n\n",
      out);
  std::fputs(SimulatedUps::Help().c_str(), out);
}

void PutLine(const std::string& line) {
  std::fputs(line.c_str(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

int RunQuery(const std::string& target) {
  qelta::MemorySettings settings;
  if (target.starts_with("COM") || target.starts_with("USB")) {
    settings.WriteString("Settings", "Port", target);
  } else {
    settings.WriteString("Ports", "COM1", target);
    settings.WriteString("Settings", "Port", "COM1");
  }
  qelta::SerialPort serial(settings);
  qelta::NoHidBranch hid;
  qelta::UpsTransport transport(serial, hid);
  qelta::SystemWallClock clock;
  qelta::UpsProtocol protocol(transport, settings, clock);
  qelta::TUPSStatus status;
  qelta::TUPSStatusRaw raw;
  if (!protocol.QueryUPSStatus(status, raw)) {
    std::fprintf(stderr, "qelta-upssim: no valid status reply from %s\n", target.c_str());
    return 1;
  }
  std::printf("input voltage    %-8s %.1f V\n", status.IP_voltage.c_str(),
              raw.IP_voltage.ToDouble());
  std::printf("fault voltage    %-8s %.1f V\n", status.IP_fault_voltage.c_str(),
              raw.IP_fault_voltage.ToDouble());
  std::printf("output voltage   %-8s %.1f V\n", status.OP_voltage.c_str(),
              raw.OP_voltage.ToDouble());
  std::printf("output load      %-8s %d %%\n", status.OP_current.c_str(), raw.OP_current);
  std::printf("frequency        %-8s %.1f Hz\n", status.OP_frequency.c_str(),
              raw.OP_frequency.ToDouble());
  std::printf("battery voltage  %-8s %.2f V\n", status.battery_voltage.c_str(),
              raw.battery_voltage.ToDouble());
  std::printf("temperature      %-8s %.1f C\n", status.temp.c_str(), raw.temp.ToDouble());
  std::printf(
      "flags            on battery %d, battery low %d, AVR %d, fault %d, line-interactive %d, "
      "testing %d, shutdown %d, beeper %d\n",
      status.status_using_battery, status.status_battery_low, status.status_avr,
      status.status_ups_failed, status.status_ups_is_line_interactive, status.status_testing,
      status.status_shutdown, status.status_beeper);
  std::printf("time stamp       %u\n", raw.time);
  return 0;
}

// The serial side: commands in, replies out (paced like a line when asked).
class Line {
 public:
  explicit Line(int master) : master_(master) {}

  void Queue(const SimulatedUps::Reply& reply, Clock::duration byte_time) {
    if (reply.bytes.empty()) return;
    // On a line a byte has arrived once its stop bit is over.
    if (pending_.empty()) next_byte_ = reply.start + byte_time;
    pending_ += reply.bytes;
    repeat_ = reply.repeat ? reply.bytes : std::string();
  }

  // A command came in (on the line or the console): a reply that repeats ends here.
  void StopRepeating() {
    if (repeat_.empty()) return;
    repeat_.clear();
    pending_.clear();
  }

  // Sends what is due, a byte every `byte_time` (all at once when that is zero).
  void Flush(Clock::duration byte_time, Clock::time_point now) {
    blocked_ = false;
    bool refilled = false;
    while (!pending_.empty()) {
      if (next_byte_ > now) break;
      const size_t count = byte_time > Clock::duration::zero() ? 1 : pending_.size();
      const ssize_t n = ::write(master_, pending_.data(), count);
      if (n < 0) {
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
          blocked_ = true;
        else
          pending_.clear();  // nobody can read it
        break;
      }
      pending_.erase(0, static_cast<size_t>(n));
      next_byte_ += byte_time * n;
      // One more round of a repeating reply per call, so that the console is heard between.
      if (pending_.empty() && !refilled) {
        pending_ = repeat_;
        refilled = true;
      }
    }
  }

  bool Pending() const { return !pending_.empty(); }
  bool Blocked() const { return blocked_; }
  Clock::time_point NextByte() const { return next_byte_; }

  // Collects received bytes into commands ended by CR or LF.
  template <typename Handler>
  void Receive(Handler&& handler) {
    char buffer[256];
    const ssize_t n = ::read(master_, buffer, sizeof buffer);
    for (ssize_t i = 0; i < n; ++i) {
      const char c = buffer[i];
      if (c == '\r' || c == '\n') {
        if (!overflow_ && !command_.empty()) handler(command_);
        command_.clear();
        overflow_ = false;
      } else if (command_.size() < kMaxCommandLength) {
        command_ += c;
      } else {
        overflow_ = true;
      }
    }
  }

 private:
  int master_;
  std::string pending_;
  std::string repeat_;
  std::string command_;
  bool overflow_ = false;
  bool blocked_ = false;
  Clock::time_point next_byte_{};
};

// Makes `link` a symbolic link to `target`, replacing an older link in one step, so that a
// monitor that opens the link meanwhile finds either the old terminal or the new one.
bool MakeLink(const std::string& link, const char* target) {
  struct stat st {};
  if (::lstat(link.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
    std::fprintf(stderr, "qelta-upssim: %s exists and is not a symbolic link\n", link.c_str());
    return false;
  }
  const std::string temporary = link + ".new-" + std::to_string(::getpid());
  ::unlink(temporary.c_str());
  if (::symlink(target, temporary.c_str()) != 0 || ::rename(temporary.c_str(), link.c_str()) != 0) {
    std::fprintf(stderr, "qelta-upssim: cannot create %s: %s\n", link.c_str(),
                 std::strerror(errno));
    ::unlink(temporary.c_str());
    return false;
  }
  return true;
}

// Removes `link` only while it still leads to `target`: another simulator may have taken the
// link over since, and its monitor must keep its UPS.
void RemoveOwnLink(const std::string& link, const char* target) {
  char buffer[512];
  const ssize_t n = ::readlink(link.c_str(), buffer, sizeof buffer);
  if (n < 0 || static_cast<size_t>(n) >= sizeof buffer) return;
  if (std::string(buffer, static_cast<size_t>(n)) != target) return;
  ::unlink(link.c_str());
}

int RunSimulator(SimulatedUps& ups, const std::string& link) {
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
    std::fprintf(stderr, "qelta-upssim: cannot create a pseudo-terminal: %s\n",
                 std::strerror(errno));
    return 1;
  }
  char name[256];
  if (::ptsname_r(master, name, sizeof name) != 0) {
    std::fprintf(stderr, "qelta-upssim: no terminal name: %s\n", std::strerror(errno));
    return 1;
  }
  // Holding the terminal side open ourselves keeps the master from seeing a hang-up whenever
  // the monitor closes its port between exchanges.
  const int slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slave < 0) {
    std::fprintf(stderr, "qelta-upssim: cannot open %s: %s\n", name, std::strerror(errno));
    return 1;
  }
  termios tio{};
  if (::tcgetattr(slave, &tio) == 0) {
    ::cfmakeraw(&tio);  // no echo, no line editing, bytes as they are
    tio.c_cflag |= CLOCAL | CREAD;
    ::cfsetispeed(&tio, B2400);
    ::cfsetospeed(&tio, B2400);
    ::tcsetattr(slave, TCSANOW, &tio);
  }
  ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
  if (!link.empty() && !MakeLink(link, name)) return 1;
  PutLine(name);

  Line line(master);
  bool stdin_open = true;
  std::string input;
  sigset_t wait_mask;
  ::sigprocmask(SIG_SETMASK, nullptr, &wait_mask);
  ::sigdelset(&wait_mask, SIGINT);
  ::sigdelset(&wait_mask, SIGTERM);
  ::sigdelset(&wait_mask, SIGHUP);

  while (!g_stop && !ups.QuitRequested()) {
    pollfd fds[2] = {{master, POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
    if (line.Blocked()) fds[0].events |= POLLOUT;
    timespec timeout{};
    const timespec* wait = nullptr;
    if (line.Pending() && !line.Blocked()) {
      const auto left = std::max(Clock::duration::zero(), line.NextByte() - Clock::now());
      const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
      timeout.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
      timeout.tv_nsec = static_cast<long>(ns % 1'000'000'000);
      wait = &timeout;
    }
    const int r = ::ppoll(fds, stdin_open ? 2 : 1, wait, &wait_mask);
    if (r < 0 && errno != EINTR) break;
    const Clock::time_point now = Clock::now();
    if (r > 0 && stdin_open && (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
      // Control commands first, so that one given before a query applies to it.
      char buffer[512];
      const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
      if (n <= 0) {
        stdin_open = false;  // keep simulating without a console
      } else {
        input.append(buffer, static_cast<size_t>(n));
        for (size_t end; (end = input.find('\n')) != std::string::npos;) {
          std::string command = input.substr(0, end);
          input.erase(0, end + 1);
          if (!command.empty() && command.back() == '\r') command.pop_back();
          if (command.find_first_not_of(" \t") == std::string::npos) continue;
          PutLine(ups.OnControl(command, now));
          line.StopRepeating();
        }
      }
    }
    if (r > 0 && (fds[0].revents & POLLIN) != 0) {
      line.Receive([&](const std::string& command) {
        line.StopRepeating();
        line.Queue(ups.OnUpsCommand(command, now), ups.ByteTime());
      });
    }
    line.Flush(ups.ByteTime(), Clock::now());
  }
  if (!link.empty()) RemoveOwnLink(link, name);
  ::close(slave);
  ::close(master);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  SimulatedUps ups(Clock::now());
  std::string link;
  std::vector<std::string> args(argv + 1, argv + argc);
  for (size_t i = 0; i < args.size(); ++i) {
    std::string arg = args[i];
    if (arg == "--help" || arg == "-h") {
      Usage(stdout);
      return 0;
    }
    if (!arg.starts_with("--")) {
      std::fprintf(stderr, "qelta-upssim: unexpected argument %s (see --help)\n", arg.c_str());
      return 2;
    }
    std::string name = arg.substr(2);
    std::string value;
    bool has_value = false;
    if (const size_t eq = name.find('='); eq != std::string::npos) {
      value = name.substr(eq + 1);
      name.erase(eq);
      has_value = true;
    }
    const bool wants_value = name == "link" || name == "query" || SimulatedUps::TakesValue(name);
    if (wants_value && !has_value) {
      if (i + 1 >= args.size()) {
        std::fprintf(stderr, "qelta-upssim: --%s needs a value\n", name.c_str());
        return 2;
      }
      value = args[++i];
      has_value = true;
    }
    if (name == "query") return RunQuery(value);
    if (name == "link") {
      link = value;
      continue;
    }
    const std::string reply = ups.OnControl(has_value ? name + " " + value : name, Clock::now());
    if (reply != "ok") {
      std::fprintf(stderr, "qelta-upssim: --%s: %s\n", name.c_str(), reply.c_str());
      return 2;
    }
  }

  struct sigaction action {};
  action.sa_handler = OnSignal;
  ::sigemptyset(&action.sa_mask);
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
  ::sigaction(SIGHUP, &action, nullptr);
  sigset_t blocked;
  ::sigemptyset(&blocked);
  ::sigaddset(&blocked, SIGINT);
  ::sigaddset(&blocked, SIGTERM);
  ::sigaddset(&blocked, SIGHUP);
  ::sigprocmask(SIG_BLOCK, &blocked, nullptr);
  return RunSimulator(ups, link);
}
