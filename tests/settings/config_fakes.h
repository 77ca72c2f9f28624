#pragma once

#include <QString>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/busy_indicator.h"
#include "platform/file_open_dialog.h"
#include "platform/message_boxes.h"
#include "platform/serial_adapters.h"
#include "platform/sound_player.h"
#include "settings/memory_settings.h"
#include "settings/port_search.h"

namespace qelta::testing {

// Settings in memory that log every write ("Section/Key=value", "-Section/Key" for a delete)
// and fail the writes of one key as a broken store would.
class LoggingSettings : public MemorySettings {
 public:
  std::vector<std::string> writes;
  std::string failing_key;

 protected:
  void Store(const std::string& section, const std::string& key, const std::string& text) override {
    if (key == failing_key) throw StoreError("Failed to set data for '" + key + "'");
    writes.push_back(section + "/" + key + "=" + text);
    MemorySettings::Store(section, key, text);
  }
};

// What the user would have seen, in order: boxes, busy changes and probes.
struct Events {
  std::vector<std::string> log;
  void Add(std::string event) { log.push_back(std::move(event)); }
};

// A UPS that answers on the port names and devices in `answering`. PortDevice follows the
// serial branch's rule over `settings`: `Ports`/COMn when set, else /dev/ttyS<n-1>.
class FakeProbe : public UpsProbe {
 public:
  FakeProbe(Settings& settings, Events& events) : settings_(settings), events_(events) {}

  std::set<std::string> answering;
  std::string port_override;

  void SetPortOverride(const std::string& port_name) override { port_override = port_name; }
  bool QueryStatus() override {
    events_.Add("query " + port_override);
    return answering.count(port_override) != 0;
  }
  bool QueryDevice(const std::string& device) override {
    events_.Add("query device " + device);
    return answering.count(device) != 0;
  }
  std::string PortDevice(const std::string& port_name) override {
    if (!port_name.starts_with("COM")) return "";
    const std::string bound = settings_.ReadString("Ports", port_name, "");
    return bound.empty() ? "/dev/ttyS" + std::to_string(std::stoi(port_name.substr(3)) - 1) : bound;
  }

 private:
  Settings& settings_;
  Events& events_;
};

// Adapters the test lists; names in `aliases` lead to the device they map to.
class FakeAdapters : public SerialAdapterCatalog {
 public:
  std::vector<SerialAdapter> adapters;
  std::map<std::string, std::string> aliases;
  std::set<std::string> present;

  std::vector<SerialAdapter> Adapters() override { return adapters; }
  bool SameDevice(const std::string& a, const std::string& b) override {
    return !a.empty() && Node(a) == Node(b);
  }
  bool SerialDevicePresent(const std::string& path) override {
    return present.count(Node(path)) != 0;
  }

 private:
  std::string Node(const std::string& name) const {
    const auto alias = aliases.find(name);
    return alias == aliases.end() ? name : alias->second;
  }
};

class FakeBoxes : public MessageBoxes {
 public:
  explicit FakeBoxes(Events& events) : events_(events) {}
  // Runs while a box is open, as the event loop would.
  std::function<void()> while_open;

  void ShowInformation(const QString& text) override { Show("information", text); }
  void ShowError(const QString& text) override { Show("error", text); }

 private:
  void Show(const std::string& kind, const QString& text) {
    events_.Add(kind + " " + text.toStdString());
    if (while_open) while_open();
  }
  Events& events_;
};

class FakeBusy : public BusyIndicator {
 public:
  explicit FakeBusy(Events& events) : events_(events) {}
  bool busy = false;
  void SetBusy(bool on) override {
    if (on == busy) return;
    busy = on;
    events_.Add(on ? "busy" : "idle");
  }

 private:
  Events& events_;
};

class FakeFiles : public FileOpenDialog {
 public:
  QString chosen;
  std::vector<FileOpenRequest> requests;
  QString ChooseFile(const FileOpenRequest& request) override {
    requests.push_back(request);
    return chosen;
  }
};

class FakeSound : public SoundPlayer {
 public:
  std::vector<QString> played;
  void PlayFileAsync(const QString& path) override { played.push_back(path); }
};

}  // namespace qelta::testing
