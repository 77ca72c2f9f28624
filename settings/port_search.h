#pragma once

#include <string>
#include <vector>

#include "platform/serial_adapters.h"
#include "settings/settings.h"

namespace qelta {

// The status query as a port search needs it.
class UpsProbe {
 public:
  virtual ~UpsProbe() = default;
  // The process-wide port-name override of the status query (empty: the stored port).
  virtual void SetPortOverride(const std::string& port_name) = 0;
  // One status query on the port the override names, into records of the prober's own; true
  // when the UPS answered.
  virtual bool QueryStatus() = 0;
  // One status query on a serial device that no port name needs to lead to.
  virtual bool QueryDevice(const std::string& device) = 0;
  // The device that the port name "COMn" opens now; empty for any other name.
  virtual std::string PortDevice(const std::string& port_name) = 0;
};

// One place to look for the UPS: a port name of the port list, or a serial adapter that no
// port name leads to yet.
struct PortCandidate {
  enum class Kind { Port, Adapter };
  Kind kind = Kind::Port;
  std::string port_name;  // Kind::Port
  SerialAdapter adapter;  // Kind::Adapter

  static PortCandidate Port(std::string name) { return {Kind::Port, std::move(name), {}}; }
  static PortCandidate Adapter(SerialAdapter adapter) {
    return {Kind::Adapter, std::string(), std::move(adapter)};
  }
  bool operator==(const PortCandidate&) const = default;
};

struct PortSearchResult {
  bool found = false;
  // The port name to select and store: "COM1".."COM8" or "USB".
  std::string port_name;
  // For a UPS found on an adapter: the adapter's name now kept as `Ports`/<port_name>.
  std::string bound_device;
};

// Looks for the UPS by asking for its status at each candidate in turn, through the port-name
// override. A UPS that answers on an adapter is bound to a port name: `Ports`/COMn is set to
// the adapter's stable name (or its node when it has none), so that the stored port stays one
// of "COM1".."COM8" and the adapter keeps its port when plugged in again.
//
// After a search the override stays at the port where the UPS was found (or at the last one
// tried): callers show their message first and then call ClearOverride.
class PortSearch {
 public:
  static constexpr int kComPorts = 8;

  PortSearch(UpsProbe& probe, Settings& settings, SerialAdapterCatalog& adapters);

  // The configuration dialog's order: NET (a UPS served on this computer), COM1..COM8, then
  // the adapters, then USB.
  std::vector<PortCandidate> ConfigurationOrder();
  // The installer's order: NET, USB, then COM1..COM8, then the adapters.
  std::vector<PortCandidate> InstallationOrder();
  // The adapters present now that none of COM1..COM8 leads to.
  std::vector<PortCandidate> UnmappedAdapters();

  // Tries the candidates in order and stops at the first that answers. Binding an adapter
  // writes the settings store, whose failures (StoreError) end the search.
  PortSearchResult Run(const std::vector<PortCandidate>& order);
  void ClearOverride() { probe_.SetPortOverride(std::string()); }
  // The device that a port name opens now (empty for names other than "COMn").
  std::string PortDevice(const std::string& port_name) { return probe_.PortDevice(port_name); }

  // The port name an adapter is bound to: the first of COM1..COM8 without a `Ports` entry whose
  // device is not there, else the first whose device is not there, else COM8.
  std::string PortForAdapter();

 private:
  UpsProbe& probe_;
  Settings& settings_;
  SerialAdapterCatalog& adapters_;
};

// "COM1".."COM8".
std::string ComPortName(int number);

}  // namespace qelta
