// The simulator's --link: two simulators on the same link, as when a demo is started while an
// older one still runs.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "link/modems.h"
#include "link/no_hid_branch.h"
#include "link/serial_port.h"
#include "link/ups.h"
#include "platform/wall_clock.h"
#include "settings/memory_settings.h"
#include "tools/upssim/simulator_process.h"

namespace qelta {
namespace {

std::string LinkTarget(const std::string& link) {
  char buffer[512];
  const ssize_t n = ::readlink(link.c_str(), buffer, sizeof buffer);
  return n < 0 ? std::string() : std::string(buffer, static_cast<size_t>(n));
}

class SimulatorLink : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "qelta-link-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    link_ = dir_ + "/ups-tty";
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  bool StartOnLink(upssim::SimulatorProcess& sim) {
    return sim.Start(QELTA_BIN_DIR "/qelta-upssim", {"--pace=instant", "--link", link_});
  }

  // A status query through the link, as the monitor makes it.
  bool QueryThroughLink() {
    MemorySettings settings;
    settings.WriteString("Ports", "COM1", link_);
    SerialPort serial(settings);
    NoHidBranch hid;
    UpsTransport transport(serial, hid);
    FixedWallClock clock(0);
    UpsProtocol protocol(transport, settings, clock);
    TUPSStatus status;
    TUPSStatusRaw raw;
    return protocol.QueryUPSStatus(status, raw);
  }

  std::string dir_;
  std::string link_;
};

TEST_F(SimulatorLink, QuittingRemovesTheLinkOnlyWhileItLeadsToItsOwnTerminal) {
  upssim::SimulatorProcess older;
  ASSERT_TRUE(StartOnLink(older));
  EXPECT_EQ(LinkTarget(link_), older.Path());

  upssim::SimulatorProcess newer;
  ASSERT_TRUE(StartOnLink(newer));
  ASSERT_NE(newer.Path(), older.Path());
  EXPECT_EQ(LinkTarget(link_), newer.Path());

  // The older one quits: the link is the newer one's and stays, and its UPS still answers.
  EXPECT_EQ(older.Command("quit"), "ok");
  older.Stop();
  EXPECT_EQ(LinkTarget(link_), newer.Path());
  EXPECT_TRUE(QueryThroughLink());

  // The newer one is ended by a signal: its own link goes, and nothing else is left behind.
  newer.Stop();
  struct stat st {};
  const int result = ::lstat(link_.c_str(), &st);
  const int error = errno;
  EXPECT_NE(result, 0);
  EXPECT_EQ(error, ENOENT);
  EXPECT_TRUE(std::filesystem::is_empty(dir_));
}

TEST_F(SimulatorLink, AFileThatIsNotALinkIsNeitherReplacedNorRemoved) {
  std::FILE* file = std::fopen(link_.c_str(), "w");
  ASSERT_NE(file, nullptr);
  std::fclose(file);
  upssim::SimulatorProcess sim;
  EXPECT_FALSE(StartOnLink(sim));
  struct stat st {};
  ASSERT_EQ(::lstat(link_.c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
}

}  // namespace
}  // namespace qelta
