#include "settings/port_search.h"

#include "settings/setting_keys.h"

namespace qelta {

std::string ComPortName(int number) {
  return "COM" + std::to_string(number);
}

PortSearch::PortSearch(UpsProbe& probe, Settings& settings, SerialAdapterCatalog& adapters)
    : probe_(probe), settings_(settings), adapters_(adapters) {}

std::vector<PortCandidate> PortSearch::UnmappedAdapters() {
  std::vector<std::string> port_devices;
  for (int n = 1; n <= kComPorts; ++n) port_devices.push_back(probe_.PortDevice(ComPortName(n)));
  std::vector<PortCandidate> candidates;
  for (SerialAdapter& adapter : adapters_.Adapters()) {
    bool mapped = false;
    for (const std::string& device : port_devices) {
      mapped = mapped || adapters_.SameDevice(device, adapter.device);
    }
    if (!mapped) candidates.push_back(PortCandidate::Adapter(std::move(adapter)));
  }
  return candidates;
}

std::vector<PortCandidate> PortSearch::ConfigurationOrder() {
  // A UPS served on this computer (the system service) first: watching it does not fight over
  // its port.
  std::vector<PortCandidate> order{PortCandidate::Port("NET")};
  for (int n = 1; n <= kComPorts; ++n) order.push_back(PortCandidate::Port(ComPortName(n)));
  for (PortCandidate& adapter : UnmappedAdapters()) order.push_back(std::move(adapter));
  order.push_back(PortCandidate::Port("USB"));
  return order;
}

std::vector<PortCandidate> PortSearch::InstallationOrder() {
  // A user who logs in where the system service runs watches its UPS instead of fighting over
  // the port.
  std::vector<PortCandidate> order{PortCandidate::Port("NET"), PortCandidate::Port("USB")};
  for (int n = 1; n <= kComPorts; ++n) order.push_back(PortCandidate::Port(ComPortName(n)));
  for (PortCandidate& adapter : UnmappedAdapters()) order.push_back(std::move(adapter));
  return order;
}

std::string PortSearch::PortForAdapter() {
  for (const bool unbound_only : {true, false}) {
    for (int n = 1; n <= kComPorts; ++n) {
      const std::string port = ComPortName(n);
      if (unbound_only && !settings_.ReadString(kPorts, port, "").empty()) continue;
      if (!adapters_.SerialDevicePresent(probe_.PortDevice(port))) return port;
    }
  }
  return ComPortName(kComPorts);
}

PortSearchResult PortSearch::Run(const std::vector<PortCandidate>& order) {
  for (const PortCandidate& candidate : order) {
    if (candidate.kind == PortCandidate::Kind::Port) {
      probe_.SetPortOverride(candidate.port_name);
      if (probe_.QueryStatus()) return {true, candidate.port_name, std::string()};
      continue;
    }
    if (!probe_.QueryDevice(candidate.adapter.PreferredName())) continue;
    const std::string port = PortForAdapter();
    settings_.WriteString(kPorts, port, candidate.adapter.PreferredName());
    probe_.SetPortOverride(port);
    return {true, port, candidate.adapter.PreferredName()};
  }
  return {};
}

}  // namespace qelta
