#pragma once

#include <cstddef>
#include <memory>
#include <span>
#include <string>

namespace qelta {

// A serial line device (a real port or a pseudo-terminal), opened around one exchange.
class SerialDevice {
 public:
  enum class ReadResult {
    Data,      // at least one byte arrived
    TimedOut,  // nothing arrived within the wait
    Failed,    // the device reports an error or a hang-up; waiting again would not help
  };

  virtual ~SerialDevice() = default;

  // Opens `path` for reading and writing, exclusively among programs that lock the device the
  // same way, and sets it to raw 8 data bits, no parity, 1 stop bit at `baud` with DTR raised.
  // Input that was waiting before the open is discarded. False when the device cannot be
  // opened or is held by another program, or `baud` is not a rate the line supports.
  virtual bool Open(const std::string& path, int baud) = 0;
  virtual bool IsOpen() const = 0;
  // Writes every byte; false when the device is not open or the bytes could not all be written.
  virtual bool Write(const std::string& bytes) = 0;
  // Waits at most `timeout_ms` (0: do not wait) for input, then takes what has arrived, up to
  // buffer.size() bytes, at once; `count` tells how many (0 unless the result is Data). A
  // device may hold input back until a line end (CR or LF) has arrived or the wait is over:
  // it then gives the input up to and including that line end, or at the wait's end whatever
  // part of a line has come. TimedOut means that not one byte arrived within the wait.
  virtual ReadResult ReadAvailable(int timeout_ms, std::span<char> buffer, std::size_t& count) = 0;
  // Closes the device; nothing happens when it is not open.
  virtual void Close() = 0;
};

// The termios implementation. A terminal is read in line mode: the terminal driver gathers a
// reply's bytes as they come at the line's pace and wakes the reader once, at the line end, so
// a read ends with the reply's line and costs one wake-up for it.
class PosixSerialDevice : public SerialDevice {
 public:
  PosixSerialDevice();
  ~PosixSerialDevice() override;
  PosixSerialDevice(const PosixSerialDevice&) = delete;
  PosixSerialDevice& operator=(const PosixSerialDevice&) = delete;

  bool Open(const std::string& path, int baud) override;
  bool IsOpen() const override { return fd_ >= 0; }
  bool Write(const std::string& bytes) override;
  ReadResult ReadAvailable(int timeout_ms, std::span<char> buffer, std::size_t& count) override;
  void Close() override;

 private:
  // At the end of a wait: takes the part of a line that has arrived without its end.
  ReadResult TakeUnendedLine(std::span<char> buffer, std::size_t& count);

  struct Modes;  // the terminal settings of the two modes

  int fd_ = -1;
  bool line_mode_ = false;  // the terminal gathers lines (else it is read raw)
  std::unique_ptr<Modes> modes_;
};

std::unique_ptr<SerialDevice> MakePosixSerialDevice();

}  // namespace qelta
