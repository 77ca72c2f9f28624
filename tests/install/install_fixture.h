#pragma once

#include <fcntl.h>
#include <sys/stat.h>

#include <ctime>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QTemporaryDir>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

#include "install/installation.h"
#include "install/installer_logic.h"
#include "install_fakes.h"

namespace qelta::testing {

inline std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

inline void WriteFile(const std::string& path, const std::string& content, mode_t mode = 0644) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
  chmod(path.c_str(), mode);
}

// A file as an interrupted run of the installer leaves it, last changed `age_seconds` ago
// (a negative age: in the future, as one of an installation running meanwhile).
inline void WriteLeftover(const std::string& path, long age_seconds) {
  WriteFile(path, "part of a copy", 0600);
  const std::time_t when = std::time(nullptr) - age_seconds;
  const struct timespec times[2] = {{when, 0}, {when, 0}};
  utimensat(AT_FDCWD, path.c_str(), times, 0);
}

// Every regular file under a folder with its content, by path relative to it.
inline std::map<std::string, std::string> Tree(const std::string& folder) {
  std::map<std::string, std::string> tree;
  if (!std::filesystem::exists(folder)) return tree;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
    const std::string relative = std::filesystem::relative(entry.path(), folder).string();
    tree[relative] = entry.is_regular_file() ? ReadFile(entry.path()) : "<folder>";
  }
  return tree;
}

// An installer in a private folder: the program to install under "build/", the user's places
// under "home/", stores in memory, a UPS that the test places.
class InstallFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(root.isValid());
    base = root.path().toStdString();
    executable = base + "/build/qelta-monitor";
    WriteFile(executable, "the program, new build", 0755);
    places.program_files_dir = base + "/home/.local/opt";
    places.programs_folder = base + "/home/share/applications";
    places.uninstall_entry_folder = base + "/home/share/QELTA/uninstall";
    places.uninstall_entry_file = "QELTA MONITOR.ini";
    places.icon_theme_folder = base + "/home/share/icons/hicolor";
    install_folder = base + "/home/.local/opt/QELTA MONITOR";
    target = install_folder + "/qelta-monitor";
  }

  InstallDependencies Deps() {
    return InstallDependencies{
        settings,
        *autorun_store,
        *entry_store,
        search,
        files,
        starter,
        places,
        {{"16x16/apps/qelta-monitor.png", "png of 16"}, {"scalable/apps/qelta-monitor.svg", "svg"}},
        deps_executable.empty() ? executable : deps_executable,
        [this] {
          journal.Add("close monitors");
          if (while_closing) while_closing();
        },
        [this] {
          journal.Add("close settings");
          settings.closed = true;
        },
        [this] { return access_hint; },
    };
  }

  // The installer as the window drives it, filled as the window's creation fills it.
  InstallerLogic& Installer() {
    installer_ = std::make_unique<InstallerLogic>(Deps(), boxes, folders, status);
    installer_->FormCreate();
    return *installer_;
  }

  QTemporaryDir root;
  std::string base;
  std::string executable;
  // The running executable when not `executable`.
  std::string deps_executable;
  std::string install_folder;
  std::string target;
  InstallPlaces places;

  Journal journal;
  JournalSettings settings{"settings", journal};
  JournalSettings autorun{"autorun", journal};
  JournalSettings entry{"entry", journal};
  Settings* autorun_store = &autorun;
  Settings* entry_store = &entry;
  JournalProbe probe{settings, journal};
  FakeAdapters adapters;
  PortSearch search{probe, settings, adapters};
  JournalFiles files{journal};
  JournalStarter starter{journal};
  JournalBoxes boxes{journal};
  FakeFolders folders;
  JournalStatus status{journal};
  std::function<void()> while_closing;
  // The line the not-found box adds for a UPS that cannot be opened.
  std::string access_hint;

 private:
  std::unique_ptr<InstallerLogic> installer_;
};

}  // namespace qelta::testing
