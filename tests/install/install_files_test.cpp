// The installer's file operations on the local file system.
#include <gtest/gtest.h>
#include <signal.h>

#include "install_fixture.h"
#include "program_harness.h"

namespace qelta::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class InstallFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(root.isValid());
    base = root.path().toStdString();
  }
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(base)) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  QTemporaryDir root;
  std::string base;
  LocalInstallFiles files;
};

TEST_F(InstallFilesTest, CopyReplacesARunningExecutableWithItsMode) {
  // A program that runs from the file being replaced: writing into it would fail.
  const std::string running = base + "/running";
  fs::copy_file("/bin/sleep", running);
  ChildProcess child;
  ASSERT_TRUE(child.Start({running, "30"}, {}));
  ASSERT_TRUE(WaitFor(
      [&] {
        return fs::exists("/proc/" + std::to_string(child.pid()) + "/exe") &&
               fs::read_symlink("/proc/" + std::to_string(child.pid()) + "/exe") == running;
      },
      5s));
  WriteFile(base + "/new", "new build", 0750);
  EXPECT_TRUE(files.CopyReplacing(base + "/new", running));
  EXPECT_EQ(ReadFile(running), "new build");
  EXPECT_EQ(fs::status(running).permissions(), fs::perms(0750));
  EXPECT_TRUE(child.Running());
  child.Kill(SIGKILL);
  EXPECT_EQ(Names(), (std::vector<std::string>{"new", "running"}));
}

TEST_F(InstallFilesTest, FailedCopyLeavesTheOldFileAndNoTemporary) {
  WriteFile(base + "/target", "old");
  EXPECT_FALSE(files.CopyReplacing(base + "/missing", base + "/target"));
  // A folder is no file to copy.
  fs::create_directories(base + "/folder");
  EXPECT_FALSE(files.CopyReplacing(base + "/folder", base + "/target"));
  EXPECT_EQ(ReadFile(base + "/target"), "old");
  // Over a folder that holds a file: nothing is replaced, and the copy goes again.
  WriteFile(base + "/source", "new");
  WriteFile(base + "/busy/inside", "kept");
  EXPECT_FALSE(files.CopyReplacing(base + "/source", base + "/busy"));
  EXPECT_EQ(ReadFile(base + "/busy/inside"), "kept");
  EXPECT_EQ(Names(), (std::vector<std::string>{"busy", "folder", "source", "target"}));
}

}  // namespace
}  // namespace qelta::testing
