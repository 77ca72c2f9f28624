#pragma once

#include <QString>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "install/install_files.h"
#include "install/installer_logic.h"
#include "platform/dialog_boxes.h"
#include "platform/folder_dialog.h"
#include "platform/program_starter.h"
#include "platform/serial_adapters.h"
#include "settings/memory_settings.h"
#include "settings/port_search.h"

namespace qelta::testing {

// Everything the installer did that a user or another program could see, in order.
struct Journal {
  std::vector<std::string> lines;
  void Add(std::string line) { lines.push_back(std::move(line)); }
  // The lines that begin with one of the prefixes, in order.
  std::vector<std::string> Only(const std::vector<std::string>& prefixes) const {
    std::vector<std::string> kept;
    for (const std::string& line : lines) {
      for (const std::string& prefix : prefixes) {
        if (line.starts_with(prefix)) {
          kept.push_back(line);
          break;
        }
      }
    }
    return kept;
  }
};

// Settings in memory that record every write as "<name> Section/Key=value" (a delete as
// "<name> -Section/Key") and can be made to fail, or to fail any use once closed.
class JournalSettings : public MemorySettings {
 public:
  JournalSettings(std::string name, Journal& journal) : name_(std::move(name)), journal_(journal) {}

  std::string failing_key;
  bool closed = false;

  void DeleteValue(const std::string& section, const std::string& key) override {
    Use();
    journal_.Add(name_ + " -" + section + "/" + key);
    MemorySettings::DeleteValue(section, key);
  }

 protected:
  std::optional<std::string> Lookup(const std::string& section, const std::string& key) override {
    Use();
    return MemorySettings::Lookup(section, key);
  }
  void Store(const std::string& section, const std::string& key, const std::string& text) override {
    Use();
    if (key == failing_key) throw StoreError("Failed to set data for '" + key + "'");
    journal_.Add(name_ + " " + section + "/" + key + "=" + text);
    MemorySettings::Store(section, key, text);
  }

 private:
  void Use() const {
    if (closed) throw std::logic_error(name_ + " used after it was closed");
  }
  std::string name_;
  Journal& journal_;
};

// The local file system, with every change recorded as "file <operation> <path>".
class JournalFiles : public InstallFiles {
 public:
  explicit JournalFiles(Journal& journal) : journal_(journal) {}

  bool MakeFolders(const std::string& path) override {
    return Do("mkdir", path, [&] { return local_.MakeFolders(path); });
  }
  bool Exists(const std::string& path) override { return local_.Exists(path); }
  bool SameFile(const std::string& a, const std::string& b) override {
    return local_.SameFile(a, b);
  }
  // Folders named in `read_only` are not writable, whoever runs the test (root included).
  bool FolderWritable(const std::string& path) override {
    return read_only.count(path) == 0 && local_.FolderWritable(path);
  }
  std::set<std::string> read_only;
  bool Remove(const std::string& path) override {
    return Do("remove", path, [&] { return local_.Remove(path); });
  }
  bool RemoveEmptyFolder(const std::string& path) override {
    return Do("rmdir", path, [&] { return local_.RemoveEmptyFolder(path); });
  }
  bool Rename(const std::string& from, const std::string& to) override {
    return Do("rename", from + " -> " + to, [&] { return local_.Rename(from, to); });
  }
  bool CopyReplacing(const std::string& from, const std::string& to) override {
    return Do("copy", from + " -> " + to, [&] { return local_.CopyReplacing(from, to); });
  }
  bool WriteFile(const std::string& path, std::string_view content) override {
    return Do("write", path, [&] { return local_.WriteFile(path, content); });
  }
  // Not journalled: it changes nothing but leftovers of interrupted runs.
  int RemoveStaleTemporaries(const std::string& path, std::time_t made_before) override {
    return local_.RemoveStaleTemporaries(path, made_before);
  }

 private:
  bool Do(const std::string& operation, const std::string& what,
          const std::function<bool()>& action) {
    journal_.Add("file " + operation + " " + what);
    return action();
  }
  Journal& journal_;
  LocalInstallFiles local_;
};

// Message boxes answered by the test: "box <icon> [<title>] <text>".
class JournalBoxes : public DialogBoxes {
 public:
  explicit JournalBoxes(Journal& journal) : journal_(journal) {}
  bool answer_yes = true;
  // Runs while a box is open (the status line as the user sees it then, ...).
  std::function<void()> while_open;

  bool AskYesNo(const QString& title, const QString& text) override {
    Show("question", title, text);
    return answer_yes;
  }
  void ShowInformation(const QString& title, const QString& text) override {
    Show("information", title, text);
  }
  void ShowError(const QString& title, const QString& text) override { Show("error", title, text); }

 private:
  void Show(const std::string& icon, const QString& title, const QString& text) {
    journal_.Add("box " + icon + " [" + title.toStdString() + "] " + text.toStdString());
    if (while_open) while_open();
  }
  Journal& journal_;
};

class JournalStatus : public InstallStatusView {
 public:
  explicit JournalStatus(Journal& journal) : journal_(journal) {}
  void ShowInstallStatus(const QString& text) override {
    journal_.Add("status " + text.toStdString());
  }

 private:
  Journal& journal_;
};

class FakeFolders : public FolderDialog {
 public:
  QString chosen;
  QString asked_title;
  QString asked_start;
  QString ChooseFolder(const QString& title, const QString& start) override {
    asked_title = title;
    asked_start = start;
    return chosen;
  }
};

class JournalStarter : public ProgramStarter {
 public:
  explicit JournalStarter(Journal& journal) : journal_(journal) {}
  bool StartDetached(const QString& program, const QStringList& arguments,
                     const QString& working_folder) override {
    journal_.Add("start " + program.toStdString() + " " + arguments.join(' ').toStdString() +
                 " in " + working_folder.toStdString());
    return true;
  }

 private:
  Journal& journal_;
};

// A UPS that answers on the port names and devices in `answering`; every query is recorded as
// "query <port name or device>". "COMn" leads to `Ports`/COMn, else /dev/ttyS<n-1>.
class JournalProbe : public UpsProbe {
 public:
  JournalProbe(Settings& settings, Journal& journal) : settings_(settings), journal_(journal) {}
  std::set<std::string> answering;
  std::string port_override;

  void SetPortOverride(const std::string& port_name) override { port_override = port_name; }
  bool QueryStatus() override {
    journal_.Add("query " + port_override);
    return answering.count(port_override) != 0;
  }
  bool QueryDevice(const std::string& device) override {
    journal_.Add("query " + device);
    return answering.count(device) != 0;
  }
  std::string PortDevice(const std::string& port_name) override {
    if (!port_name.starts_with("COM")) return "";
    const std::string bound = settings_.ReadString("Ports", port_name, "");
    return bound.empty() ? "/dev/ttyS" + std::to_string(std::stoi(port_name.substr(3)) - 1) : bound;
  }

 private:
  Settings& settings_;
  Journal& journal_;
};

class FakeAdapters : public SerialAdapterCatalog {
 public:
  std::vector<SerialAdapter> adapters;
  std::vector<SerialAdapter> Adapters() override { return adapters; }
  bool SameDevice(const std::string& a, const std::string& b) override {
    return !a.empty() && a == b;
  }
  bool SerialDevicePresent(const std::string& path) override {
    for (const SerialAdapter& adapter : adapters) {
      if (adapter.device == path) return true;
    }
    return false;
  }
};

}  // namespace qelta::testing
