#include "platform/serial_device.h"

#include "platform/access_notice.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace qelta {

namespace {

// How long one write may find the line unable to take more bytes before it gives up.
constexpr int kWriteStallMs = 1000;

// Line mode: the terminal driver gathers the input into lines ended by LF or CR and wakes a
// reader once a line has ended, however many bytes it took at the line's pace. Nothing else of
// line editing applies: no echo (the UPS would hear its own reply), no signals, no extended
// characters, and every special character (erase, kill, end of file, ...) disabled, so that
// every byte of the reply reaches the reader as it came. A disabled character is
// _POSIX_VDISABLE, which on Linux is NUL; the driver leaves NUL bytes alone.
termios LineModeOf(const termios& raw) {
  termios line = raw;
  line.c_lflag = ICANON;
  for (cc_t& c : line.c_cc) c = _POSIX_VDISABLE;
  line.c_cc[VEOL] = '\r';
  return line;
}

// Whether the terminal took line mode as asked (a device may take some settings and not others).
bool InLineMode(int fd) {
  termios now{};
  if (::tcgetattr(fd, &now) != 0) return false;
  return (now.c_lflag & (ICANON | ECHO | ECHONL | ISIG | IEXTEN)) == ICANON &&
         now.c_cc[VEOL] == '\r' && now.c_cc[VERASE] == _POSIX_VDISABLE &&
         now.c_cc[VKILL] == _POSIX_VDISABLE && now.c_cc[VEOF] == _POSIX_VDISABLE;
}

bool BaudToSpeed(int baud, speed_t& speed) {
  switch (baud) {
    case 1200:
      speed = B1200;
      return true;
    case 2400:
      speed = B2400;
      return true;
    case 4800:
      speed = B4800;
      return true;
    case 9600:
      speed = B9600;
      return true;
    case 19200:
      speed = B19200;
      return true;
    case 38400:
      speed = B38400;
      return true;
    case 57600:
      speed = B57600;
      return true;
    case 115200:
      speed = B115200;
      return true;
    default:
      return false;
  }
}

}  // namespace

struct PosixSerialDevice::Modes {
  termios raw{};   // the line settings, bytes shown as they come
  termios line{};  // the same, gathered into lines
};

PosixSerialDevice::PosixSerialDevice() : modes_(std::make_unique<Modes>()) {}

PosixSerialDevice::~PosixSerialDevice() {
  Close();
}

bool PosixSerialDevice::Open(const std::string& path, int baud) {
  Close();
  speed_t speed;
  if (!BaudToSpeed(baud, speed)) return false;
  // Non-blocking, so that a port whose carrier line is down does not hold the open; reads and
  // writes wait with poll() instead.
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    ProcessAccessNotice().OpenFailed(AccessNotice::Kind::SerialPort, path, errno);
    return false;
  }
  // An advisory lock rather than TIOCEXCL: it goes away with the process that holds it, so a
  // crashed holder cannot leave the device locked.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return false;
  }
  // The line settings are applied as well as the device allows; a device that takes none of
  // them (not a terminal) still counts as open, and one that refuses line mode is read raw.
  line_mode_ = false;
  termios tio{};
  if (::tcgetattr(fd, &tio) == 0) {
    ::cfmakeraw(&tio);
    tio.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    tio.c_iflag &= ~(IXON | IXOFF | IXANY);
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    ::cfsetispeed(&tio, speed);
    ::cfsetospeed(&tio, speed);
    modes_->raw = tio;
    modes_->line = LineModeOf(tio);
    line_mode_ = ::tcsetattr(fd, TCSANOW, &modes_->line) == 0 && InLineMode(fd);
    if (!line_mode_) ::tcsetattr(fd, TCSANOW, &modes_->raw);
  }
  // Raising DTR fails harmlessly on devices without modem lines (pseudo-terminals).
  int dtr = TIOCM_DTR;
  ::ioctl(fd, TIOCMBIS, &dtr);
  ::tcflush(fd, TCIFLUSH);
  fd_ = fd;
  return true;
}

bool PosixSerialDevice::Write(const std::string& bytes) {
  if (fd_ < 0) return false;
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return false;
    pollfd p{fd_, POLLOUT, 0};
    const int r = ::poll(&p, 1, kWriteStallMs);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0 || (p.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) return false;
  }
  return true;
}

SerialDevice::ReadResult PosixSerialDevice::ReadAvailable(int timeout_ms, std::span<char> buffer,
                                                          std::size_t& count) {
  using Clock = std::chrono::steady_clock;
  count = 0;
  if (fd_ < 0 || buffer.empty()) return ReadResult::Failed;
  // Neither a signal nor a wake-up without data shortens the wait: the caller takes a time-out
  // for that long a silence on the line.
  const Clock::time_point deadline =
      Clock::now() + std::chrono::milliseconds(timeout_ms < 0 ? 0 : timeout_ms);
  for (;;) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    pollfd p{fd_, POLLIN, 0};
    const int ready = ::poll(&p, 1, left.count() > 0 ? static_cast<int>(left.count()) : 0);
    if (ready < 0) {
      if (errno == EINTR) continue;
      return ReadResult::Failed;
    }
    if (ready == 0) return TakeUnendedLine(buffer, count);
    if ((p.revents & POLLIN) == 0) return ReadResult::Failed;  // hung up or in error
    const ssize_t n = ::read(fd_, buffer.data(), buffer.size());
    if (n > 0) {
      count = static_cast<std::size_t>(n);
      return ReadResult::Data;
    }
    if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (Clock::now() >= deadline) return TakeUnendedLine(buffer, count);
      continue;
    }
    // End of file or an error such as EIO on a pseudo-terminal whose other side has gone.
    return ReadResult::Failed;
  }
}

SerialDevice::ReadResult PosixSerialDevice::TakeUnendedLine(std::span<char> buffer,
                                                            std::size_t& count) {
  count = 0;
  if (!line_mode_) return ReadResult::TimedOut;  // raw: nothing has arrived
  // In line mode the driver shows no part of a line before its end. The wait is over, so the
  // line goes raw for a moment to take what has come of it: a reply that is still arriving
  // goes on, and a silent line is told from one that is busy. Nothing is lost by the switch;
  // bytes that come during it are shown at once when line mode returns.
  if (::tcsetattr(fd_, TCSANOW, &modes_->raw) != 0) return ReadResult::Failed;
  const ssize_t n = ::read(fd_, buffer.data(), buffer.size());
  const int read_error = errno;
  // Should line mode not come back, the device goes on raw: every byte still arrives, only
  // each wakes the reader.
  line_mode_ = ::tcsetattr(fd_, TCSANOW, &modes_->line) == 0;
  if (n > 0) {
    count = static_cast<std::size_t>(n);
    return ReadResult::Data;
  }
  if (n < 0 && (read_error == EINTR || read_error == EAGAIN || read_error == EWOULDBLOCK)) {
    return ReadResult::TimedOut;
  }
  return ReadResult::Failed;  // hung up or in error
}

void PosixSerialDevice::Close() {
  if (fd_ < 0) return;
  ::close(fd_);  // also releases the lock
  fd_ = -1;
}

std::unique_ptr<SerialDevice> MakePosixSerialDevice() {
  return std::make_unique<PosixSerialDevice>();
}

}  // namespace qelta
