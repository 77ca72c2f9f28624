#include "platform/serial_adapters.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <system_error>
#include <tuple>

namespace qelta {
namespace {

namespace fs = std::filesystem;

bool IsAdapterNode(const std::string& name) {
  for (const char* prefix : {"ttyUSB", "ttyACM"}) {
    const std::string p = prefix;
    if (name.size() > p.size() && name.starts_with(p) &&
        std::all_of(name.begin() + p.size(), name.end(),
                    [](char c) { return std::isdigit(static_cast<unsigned char>(c)); })) {
      return true;
    }
  }
  return false;
}

// Node names in the order people count them: ttyACM0, ttyACM1, ..., ttyUSB2, ttyUSB10.
bool NodeOrder(const std::string& a, const std::string& b) {
  auto split = [](const std::string& name) {
    size_t digits = name.size();
    while (digits > 0 && std::isdigit(static_cast<unsigned char>(name[digits - 1]))) --digits;
    const std::string number = name.substr(digits);
    return std::make_tuple(name.substr(0, digits), number.size(), number);
  };
  return split(a) < split(b);
}

std::string Canonical(const std::string& path) {
  std::error_code error;
  const fs::path resolved = fs::canonical(path, error);
  return error ? std::string() : resolved.string();
}

}  // namespace

LinuxSerialAdapters::LinuxSerialAdapters(std::string dev_folder, std::string tty_class_folder)
    : dev_folder_(std::move(dev_folder)), tty_class_folder_(std::move(tty_class_folder)) {}

std::vector<SerialAdapter> LinuxSerialAdapters::Adapters() {
  // Canonical node path -> adapter.
  std::map<std::string, SerialAdapter> found;
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(dev_folder_, error)) {
    const std::string name = entry.path().filename().string();
    if (!IsAdapterNode(name)) continue;
    const std::string node = Canonical(entry.path().string());
    if (!node.empty()) found[node].device = entry.path().string();
  }
  // Stable names, sorted so that a device with several links always gets the same one.
  std::vector<std::string> links;
  for (const fs::directory_entry& entry :
       fs::directory_iterator(dev_folder_ + "/serial/by-id", error)) {
    links.push_back(entry.path().string());
  }
  std::sort(links.begin(), links.end());
  for (const std::string& link : links) {
    const std::string node = Canonical(link);
    if (node.empty()) continue;  // a link left behind by a device that is gone
    SerialAdapter& adapter = found[node];
    if (adapter.device.empty()) adapter.device = node;
    if (adapter.stable_name.empty()) adapter.stable_name = link;
  }
  std::vector<SerialAdapter> adapters;
  for (auto& [node, adapter] : found) adapters.push_back(std::move(adapter));
  std::sort(adapters.begin(), adapters.end(), [](const SerialAdapter& a, const SerialAdapter& b) {
    return NodeOrder(fs::path(a.device).filename().string(),
                     fs::path(b.device).filename().string());
  });
  return adapters;
}

bool LinuxSerialAdapters::SameDevice(const std::string& a, const std::string& b) {
  const std::string first = Canonical(a);
  return !first.empty() && first == Canonical(b);
}

bool LinuxSerialAdapters::SerialDevicePresent(const std::string& path) {
  const std::string node = Canonical(path);
  if (node.empty()) return false;
  std::ifstream type(tty_class_folder_ + '/' + fs::path(node).filename().string() + "/type");
  int uart = -1;
  if (type >> uart) return uart != 0;
  return true;  // the kernel does not say: a node that exists counts as present
}

}  // namespace qelta
