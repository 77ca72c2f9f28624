#include "link/serial_port.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>
#include <vector>

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
  // The LF after the CR is all that is left: it is skipped, and silence ends the read empty.
  EXPECT_EQ(port_.ReadSerialPort(100), "");
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

TEST_F(SerialPortOverPty, ReadEndsWithTheLineAndLeavesWhatFollows) {
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
  // Control characters that a terminal in its default mode would act on pass unchanged.
  const std::string odd = std::string("(a\x03") + "b\x11" + "c\x13" + "d\x7f" + "e\x04";
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

// Records what the port asks of the device; serves bytes from a script.
class ScriptedDevice : public SerialDevice {
 public:
  struct Log {
    std::vector<std::string> opened;
    int baud = 0;
  };
  explicit ScriptedDevice(Log& log) : log_(log) {}

  bool Open(const std::string& path, int baud) override {
    log_.opened.push_back(path);
    log_.baud = baud;
    open_ = true;
    return true;
  }
  bool IsOpen() const override { return open_; }
  bool Write(const std::string&) override { return open_; }
  ReadResult ReadByte(int, char& byte) override {
    // An endless stream without a line end, a byte every millisecond.
    std::this_thread::sleep_for(1ms);
    byte = 'x';
    return ReadResult::Byte;
  }
  void Close() override { open_ = false; }

 private:
  Log& log_;
  bool open_ = false;
};

TEST(SerialPortRead, EndlessStreamWithoutLineEndStopsAtTheDeadline) {
  MemorySettings settings;
  ScriptedDevice::Log log;
  SerialPort port(settings, std::make_unique<ScriptedDevice>(log));
  ASSERT_TRUE(port.OpenSerialPort("COM1", 2400));
  const std::string line = port.ReadSerialPort(50);
  EXPECT_FALSE(line.empty());
  EXPECT_EQ(line.find_first_not_of('x'), std::string::npos);
}

TEST(SerialPortNames, ComNumberMapsToTheConfiguredDeviceOrTtyS) {
  MemorySettings settings;
  ScriptedDevice::Log log;
  SerialPort port(settings, std::make_unique<ScriptedDevice>(log));
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
  SerialPort port(settings, std::make_unique<ScriptedDevice>(log));
  for (const char* name : {"COM", "COM0", "COMx", "COM1x", "COM-1", "COM+1", "COM 1", "com1",
                           "COM99999999999999999999", "USB"}) {
    settings.WriteString("Ports", name, "/dev/qelta-ups");
    EXPECT_FALSE(port.OpenSerialPort(name, 2400)) << name;
  }
  EXPECT_TRUE(log.opened.empty());
}

}  // namespace
}  // namespace qelta
