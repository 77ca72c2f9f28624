#include "link/serial_port.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <deque>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "platform/serial_device.h"
#include "pty_pair.h"
#include "settings/memory_settings.h"

namespace qelta {
namespace {

using namespace std::chrono_literals;

constexpr char kStatusLine[] = "(218.5 218.5 220.1 023 50.1 13.50 27.0 00001001";

class SerialPortOverPty : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty_.Ok());
    settings_.WriteString("Ports", "COM1", pty_.Path());
    ASSERT_TRUE(port_.OpenSerialPort("COM1", 2400));
  }
  void TearDown() override { port_.CloseSerialPort(); }

  PtyPair pty_;
  MemorySettings settings_;
  SerialPort port_{settings_};
};

TEST_F(SerialPortOverPty, LeadingLineEndsAreSkippedAndTheLineEndIsRemoved) {
  ASSERT_TRUE(pty_.Send(std::string("\r\n") + kStatusLine + "\r\n"));
  EXPECT_EQ(port_.ReadSerialPort(2000), kStatusLine);
  EXPECT_EQ(port_.ReadSerialPort(100), "");
}

TEST_F(SerialPortOverPty, DelayedReplyAtTheLinesPaceIsReadWhole) {
  // A UPS that thinks for 150 ms, then sends CR LF and its line at 2400 baud (about 4 ms a
  // byte): the line ends some 350 ms after the read began, past its 300 ms time-out.
  std::thread ups([this] {
    std::this_thread::sleep_for(150ms);
    for (char c : std::string("\r\n") + kStatusLine + "\r") {
      pty_.Send(std::string(1, c));
      std::this_thread::sleep_for(4ms);
    }
  });
  const std::string line = port_.ReadSerialPort(300);
  ups.join();
  EXPECT_EQ(line, kStatusLine);
}

// The calling thread's voluntary context switches so far: each time it slept and was woken.
long SleepsOfThisThread() {
  rusage usage{};
  ::getrusage(RUSAGE_THREAD, &usage);
  return usage.ru_nvcsw;
}

// Whether thread `tid` of this process is asleep, waiting for something.
bool ThreadIsAsleep(pid_t tid) {
  std::ifstream stat("/proc/self/task/" + std::to_string(tid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  const size_t name_end = text.rfind(')');
  return name_end != std::string::npos && text.compare(name_end, 3, ") S") == 0;
}

TEST(SerialDeviceOverPty, AReplyIsTakenAtItsLineEndInTheWakeUpThatTheLineEndCauses) {
  // A reply whose line ends 5 ms after it began, while the read already waits: the read sleeps
  // once, is woken by the line end and takes the whole line then, without another wait, so it
  // ends as soon as the line has come. (A read woken by the first byte, or one that lets time
  // pass before it takes what came, sleeps twice.)
  PtyPair pty;
  ASSERT_TRUE(pty.Ok());
  PosixSerialDevice device;
  ASSERT_TRUE(device.Open(pty.Path(), 2400));
  const pid_t reader = ::gettid();
  std::thread ups([&pty, reader] {
    for (int i = 0; i < 5000 && !ThreadIsAsleep(reader); ++i) std::this_thread::sleep_for(1ms);
    pty.Send("(");
    std::this_thread::sleep_for(5ms);
    pty.Send("218.5\r");
  });
  std::array<char, 128> buffer;
  std::size_t count = 0;
  const long sleeps_before = SleepsOfThisThread();
  const SerialDevice::ReadResult result = device.ReadAvailable(10000, buffer, count);
  const long sleeps = SleepsOfThisThread() - sleeps_before;
  ups.join();
  ASSERT_EQ(result, SerialDevice::ReadResult::Data);
  EXPECT_EQ(std::string(buffer.data(), count), "(218.5\r");
  EXPECT_LE(sleeps, 1);
}

TEST_F(SerialPortOverPty, ALineCutShortByAHangUpIsNoLine) {
  ASSERT_TRUE(pty_.Send("(218.5 218.5 220.1"));
  std::thread ups([this] {
    std::this_thread::sleep_for(50ms);
    pty_.HangUp();
  });
  const std::string line = port_.ReadSerialPort(300);
  ups.join();
  EXPECT_EQ(line, "");
}

TEST_F(SerialPortOverPty, SilenceGivesAnEmptyResultAtTheDeadline) {
  EXPECT_EQ(port_.ReadSerialPort(100), "");
}

TEST_F(SerialPortOverPty, ReplySplitOverSeveralWritesArrivesAsOneLine) {
  std::thread ups([this] {
    for (const char* piece :
         {"\n(218.5 21", "8.5 220.1 023", " 50.1 13.50 27.0 000", "01001", "\r"}) {
      pty_.Send(piece);
      std::this_thread::sleep_for(40ms);
    }
  });
  const std::string line = port_.ReadSerialPort(5000);
  ups.join();
  EXPECT_EQ(line, kStatusLine);
}

TEST_F(SerialPortOverPty, ReadEndsWithTheLineAndLeavesWhatFollowsLater) {
  ASSERT_TRUE(pty_.Send("FIRST\r"));
  // Sent while a read that waited for its deadline would still be collecting.
  std::thread ups([this] {
    std::this_thread::sleep_for(300ms);
    pty_.Send("SECOND\r");
  });
  const std::string first = port_.ReadSerialPort(3000);
  const std::string second = port_.ReadSerialPort(3000);
  ups.join();
  EXPECT_EQ(first, "FIRST");
  EXPECT_EQ(second, "SECOND");
}

TEST_F(SerialPortOverPty, LineIsRawAndWritesReachTheUps) {
  // Characters that a terminal in its default mode would act on pass unchanged: interrupt,
  // flow control, erase, end of file, kill, word erase, literal next, reprint, suspend, quit,
  // discard, NUL (a disabled character's code) and a byte with the high bit set.
  const std::string odd = std::string("(a\x03") + "b\x11" + "c\x13" + "d\x7f" + "e\x04" + "f\x15" +
                          "g\x17" + "h\x16" + "i\x12" + "j\x1a" + "k\x1c" + "l\x0f" +
                          std::string(1, '\0') + "m\xff";
  ASSERT_TRUE(pty_.Send(odd + "\r"));
  EXPECT_EQ(port_.ReadSerialPort(2000), odd);

  EXPECT_TRUE(port_.WriteSerialPort("Q1\r"));
  EXPECT_EQ(pty_.Received(2000), "Q1\r");  // no echo, no CR translation
}

TEST(SerialPortOpen, InputWaitingBeforeTheOpenIsDiscarded) {
  PtyPair pty;
  ASSERT_TRUE(pty.Ok());
  MemorySettings settings;
  settings.WriteString("Ports", "COM1", pty.Path());
  SerialPort port(settings);
  ASSERT_TRUE(pty.Send("(stale reply\r"));
  ASSERT_TRUE(port.OpenSerialPort("COM1", 2400));
  ASSERT_TRUE(pty.Send("(fresh reply\r"));
  EXPECT_EQ(port.ReadSerialPort(2000), "(fresh reply");
  port.CloseSerialPort();
}

TEST(SerialPortOpen, ADeviceIsHeldByOnePortAtATime) {
  PtyPair pty;
  ASSERT_TRUE(pty.Ok());
  MemorySettings settings;
  settings.WriteString("Ports", "COM1", pty.Path());
  SerialPort first(settings);
  SerialPort second(settings);
  ASSERT_TRUE(first.OpenSerialPort("COM1", 2400));
  EXPECT_FALSE(second.OpenSerialPort("COM1", 2400));
  first.CloseSerialPort();
  EXPECT_TRUE(second.OpenSerialPort("COM1", 2400));
  second.CloseSerialPort();
}

TEST(SerialPortOpen, MissingDeviceFails) {
  MemorySettings settings;
  settings.WriteString("Ports", "COM1", "/nonexistent/qelta-tty");
  SerialPort port(settings);
  EXPECT_FALSE(port.OpenSerialPort("COM1", 2400));
  EXPECT_FALSE(port.WriteSerialPort("Q1\r"));
  EXPECT_EQ(port.ReadSerialPort(50), "");
}

// Records what the port asks of the device; serves bytes from a script on a clock of its own,
// which each read advances by the time the bytes took to come (or by its whole wait).
class ScriptedDevice : public SerialDevice {
 public:
  struct Chunk {
    int64_t after_ms;  // since the previous chunk arrived (or the script began)
    std::string bytes;
  };
  struct Log {
    std::vector<std::string> opened;
    int baud = 0;
    int reads = 0;
  };
  ScriptedDevice(Log& log, ManualMonotonicClock& clock) : log_(log), clock_(clock) {}

  bool Open(const std::string& path, int baud) override {
    log_.opened.push_back(path);
    log_.baud = baud;
    open_ = true;
    return true;
  }
  bool IsOpen() const override { return open_; }
  bool Write(const std::string&) override { return open_; }
  ReadResult ReadAvailable(int timeout_ms, std::span<char> buffer, std::size_t& count) override {
    ++log_.reads;
    count = 0;
    if (script.empty() && endless) script.push_back(*endless);
    if (script.empty()) {
      if (hang_up_at_end) return ReadResult::Failed;
      clock_.Advance(timeout_ms);
      return ReadResult::TimedOut;
    }
    Chunk& next = script.front();
    if (next.after_ms > timeout_ms) {
      next.after_ms -= timeout_ms;
      clock_.Advance(timeout_ms);
      return ReadResult::TimedOut;
    }
    clock_.Advance(next.after_ms);
    next.after_ms = 0;
    count = std::min(buffer.size(), next.bytes.size());
    std::copy_n(next.bytes.begin(), count, buffer.begin());
    next.bytes.erase(0, count);
    if (next.bytes.empty()) script.pop_front();
    return ReadResult::Data;
  }
  void Close() override { open_ = false; }

  std::deque<Chunk> script;
  std::optional<Chunk> endless;  // sent again and again once the script is over
  bool hang_up_at_end = false;

 private:
  Log& log_;
  ManualMonotonicClock& clock_;
  bool open_ = false;
};

class SerialPortRead : public ::testing::Test {
 protected:
  void SetUp() override {
    auto device = std::make_unique<ScriptedDevice>(log_, clock_);
    device_ = device.get();
    port_ = std::make_unique<SerialPort>(settings_, std::move(device), clock_);
    ASSERT_TRUE(port_->OpenSerialPort("COM1", 2400));
  }
  // Reads with the status query's time-out; `elapsed_ms_` tells how long it took.
  std::string Read() {
    const int64_t start = clock_.NowMs();
    std::string line = port_->ReadSerialPort(300);
    elapsed_ms_ = clock_.NowMs() - start;
    return line;
  }
  // `text` a byte at a time, `ms` apart, the first one `ms` after `first_after_ms`.
  void Trickle(const std::string& text, int64_t ms, int64_t first_after_ms = 0) {
    for (char c : text) {
      device_->script.push_back({first_after_ms + ms, std::string(1, c)});
      first_after_ms = 0;
    }
  }

  MemorySettings settings_;
  ManualMonotonicClock clock_{7'000};
  ScriptedDevice::Log log_;
  ScriptedDevice* device_ = nullptr;
  std::unique_ptr<SerialPort> port_;
  int64_t elapsed_ms_ = 0;
};

TEST_F(SerialPortRead, TakesWhatHasArrivedAtOnceAndDropsWhatFollowsTheLineEnd) {
  device_->script = {{20, std::string("\r\n\r") + kStatusLine + "\r\n(second\r"}};
  EXPECT_EQ(Read(), kStatusLine);
  EXPECT_EQ(log_.reads, 1);
  EXPECT_EQ(elapsed_ms_, 20);
  EXPECT_EQ(Read(), "");  // "(second" went with the first line's chunk
}

TEST_F(SerialPortRead, AReplyThatBeginsLateAndTakesItsTimeOnTheLineIsReadWhole) {
  // 150 ms of thought, then CR LF and the line at 2400 baud (a byte about every 4 ms).
  Trickle(std::string("\r\n") + kStatusLine + "\r", 4, 150);
  EXPECT_EQ(Read(), kStatusLine);
  EXPECT_EQ(elapsed_ms_, 150 + 4 * (2 + std::string(kStatusLine).size() + 1));
}

TEST_F(SerialPortRead, PausesShorterThanTheTimeOutDoNotEndTheLine) {
  device_->script = {{290, "(218.5"}, {290, " 00001001"}, {10, "\r"}};
  EXPECT_EQ(Read(), "(218.5 00001001");
  EXPECT_EQ(elapsed_ms_, 590);
}

TEST_F(SerialPortRead, ALineWithoutItsLineEndIsNoLine) {
  // Cut short by a silence as long as the time-out.
  device_->script = {{100, "(218.5 218.5 220.1 023 50.1"}};
  EXPECT_EQ(Read(), "");
  EXPECT_EQ(elapsed_ms_, 400);

  // Cut short by a hang-up.
  device_->script = {{10, "(218.5 218.5 220.1"}};
  device_->hang_up_at_end = true;
  EXPECT_EQ(Read(), "");
  EXPECT_EQ(elapsed_ms_, 10);
}

TEST_F(SerialPortRead, SilenceGivesAnEmptyResultAtTheTimeOut) {
  EXPECT_EQ(Read(), "");
  EXPECT_EQ(elapsed_ms_, 300);
  device_->script = {{0, "\r\n\r\n"}};  // line ends alone are no line either
  EXPECT_EQ(Read(), "");
  EXPECT_EQ(elapsed_ms_, 300);
}

TEST_F(SerialPortRead, AReplyTooSlowToEndWithinTwiceTheTimeOutIsCut) {
  // The status line a byte every 20 ms: it would end after about a second.
  Trickle(std::string(kStatusLine) + "\r", 20);
  EXPECT_EQ(Read(), "");
  EXPECT_EQ(elapsed_ms_, 600);
}

TEST_F(SerialPortRead, AStreamThatNeverEndsIsCutByTimeOrByLength) {
  device_->endless = ScriptedDevice::Chunk{10, "x"};
  EXPECT_EQ(Read(), "");
  EXPECT_EQ(elapsed_ms_, 600);

  // As fast as the line can go: the length bound ends it first.
  log_.reads = 0;
  device_->endless = ScriptedDevice::Chunk{1, std::string(64, '(')};
  EXPECT_EQ(Read(), "");
  EXPECT_EQ(log_.reads, static_cast<int>(SerialPort::kMaxLineLength / 64 + 1));
  EXPECT_LT(elapsed_ms_, 10);

  // Line ends alone, for ever: only time ends that.
  device_->endless = ScriptedDevice::Chunk{5, "\r\n"};
  EXPECT_EQ(Read(), "");
  EXPECT_EQ(elapsed_ms_, 600);
}

TEST_F(SerialPortRead, TheLongestLineIsStillALine) {
  const std::string longest(SerialPort::kMaxLineLength, 'y');
  device_->script = {{5, longest + "\r"}};
  EXPECT_EQ(Read(), longest);
}

TEST(SerialPortNames, ComNumberMapsToTheConfiguredDeviceOrTtyS) {
  MemorySettings settings;
  ScriptedDevice::Log log;
  ManualMonotonicClock clock;
  SerialPort port(settings, std::make_unique<ScriptedDevice>(log, clock), clock);
  settings.WriteString("Ports", "COM2", "/dev/qelta-ups");
  settings.WriteString("Ports", "COM4", "");  // empty: not configured

  EXPECT_TRUE(port.OpenSerialPort("COM1", 2400));
  EXPECT_TRUE(port.OpenSerialPort("COM2", 2400));
  EXPECT_TRUE(port.OpenSerialPort("COM4", 2400));
  EXPECT_TRUE(port.OpenSerialPort("COM12", 2400));
  EXPECT_EQ(log.opened, (std::vector<std::string>{"/dev/ttyS0", "/dev/qelta-ups", "/dev/ttyS3",
                                                  "/dev/ttyS11"}));
  EXPECT_EQ(log.baud, 2400);
}

TEST(SerialPortNames, NamesThatAreNotComAndANumberFailWithoutOpening) {
  MemorySettings settings;
  ScriptedDevice::Log log;
  ManualMonotonicClock clock;
  SerialPort port(settings, std::make_unique<ScriptedDevice>(log, clock), clock);
  for (const char* name : {"COM", "COM0", "COMx", "COM1x", "COM-1", "COM+1", "COM 1", "com1",
                           "COM99999999999999999999", "USB"}) {
    settings.WriteString("Ports", name, "/dev/qelta-ups");
    EXPECT_FALSE(port.OpenSerialPort(name, 2400)) << name;
  }
  EXPECT_TRUE(log.opened.empty());
}

}  // namespace
}  // namespace qelta
