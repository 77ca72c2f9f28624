#include "platform/serial_device.h"

#include "platform/access_notice.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

namespace qelta {

namespace {

// How long one write may find the line unable to take more bytes before it gives up.
constexpr int kWriteStallMs = 1000;
// Once input has begun, a read lets this many characters' time pass before it takes what has
// arrived, as a UART's receive FIFO does: the bytes of a reply come at the line's pace, and
// taking them one wake-up each would wake the program for every byte.
constexpr int kGatherCharacters = 16;
constexpr int kBitsPerCharacter = 10;  // start bit, 8 data bits, stop bit

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
  // them (not a terminal) still counts as open.
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
    ::tcsetattr(fd, TCSANOW, &tio);
  }
  // Raising DTR fails harmlessly on devices without modem lines (pseudo-terminals).
  int dtr = TIOCM_DTR;
  ::ioctl(fd, TIOCMBIS, &dtr);
  ::tcflush(fd, TCIFLUSH);
  fd_ = fd;
  gather_ms_ = (kGatherCharacters * kBitsPerCharacter * 1000 + baud - 1) / baud;
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
  bool gathered = false;
  for (;;) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    pollfd p{fd_, POLLIN, 0};
    const int ready = ::poll(&p, 1, left.count() > 0 ? static_cast<int>(left.count()) : 0);
    if (ready < 0) {
      if (errno == EINTR) continue;
      return ReadResult::Failed;
    }
    if (ready == 0) return ReadResult::TimedOut;
    if ((p.revents & POLLIN) == 0) return ReadResult::Failed;  // hung up or in error
    if (!gathered) {
      // Within the caller's wait: a read still returns by its deadline.
      gathered = true;
      const auto until = std::min(deadline, Clock::now() + std::chrono::milliseconds(gather_ms_));
      const auto gather = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now());
      if (gather.count() > 0) ::poll(nullptr, 0, static_cast<int>(gather.count()));
    }
    const ssize_t n = ::read(fd_, buffer.data(), buffer.size());
    if (n > 0) {
      count = static_cast<std::size_t>(n);
      return ReadResult::Data;
    }
    if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (Clock::now() >= deadline) return ReadResult::TimedOut;
      continue;
    }
    // End of file or an error such as EIO on a pseudo-terminal whose other side has gone.
    return ReadResult::Failed;
  }
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
