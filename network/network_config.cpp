#include "network/network_config.h"

#include <algorithm>

#include "settings/settings.h"

namespace qelta {
namespace {

std::string UserKey(const std::string& name, const char* field) {
  return "User." + name + "." + field;
}

std::string JoinNames(const std::vector<std::string>& names) {
  std::string out;
  for (const std::string& n : names) {
    if (!out.empty()) out += ' ';
    out += n;
  }
  return out;
}

}  // namespace

std::vector<std::string> SplitList(const std::string& text) {
  std::vector<std::string> items;
  std::string current;
  for (const char c : text + ' ') {
    if (c == ' ' || c == ',' || c == '\t' || c == ';') {
      if (!current.empty()) items.push_back(current);
      current.clear();
    } else {
      current += c;
    }
  }
  return items;
}

bool IsLoopbackAddress(const std::string& address) {
  return address.starts_with("127.") || address == "::1" || address == "localhost";
}

ListenConfig ReadListenConfig(Settings& settings) {
  ListenConfig config;
  config.serve = settings.ReadBool(kNetworkSection, "Serve", true);
  config.addresses = SplitList(settings.ReadString(kNetworkSection, "Listen", "127.0.0.1"));
  config.port = settings.ReadInteger(kNetworkSection, "Port", kDefaultNetworkPort);
  return config;
}

ServedConfig ReadServedConfig(Settings& settings) {
  ServedConfig config;
  config.ups_name = settings.ReadString(kNetworkSection, "UpsName", "qelta");
  if (config.ups_name.empty()) config.ups_name = "qelta";
  config.description = settings.ReadString(kNetworkSection, "Description", "");
  for (const std::string& name : SplitList(settings.ReadString(kNetworkSection, "Users", ""))) {
    NetworkUser user;
    user.name = name;
    user.password = settings.ReadString(kNetworkSection, UserKey(name, "Password"), "");
    for (const std::string& word :
         SplitList(settings.ReadString(kNetworkSection, UserKey(name, "Right"), "secondary"))) {
      if (word == "secondary") user.secondary = true;
      if (word == "instcmds") user.instcmds = true;
    }
    config.users.push_back(std::move(user));
  }
  return config;
}

int ReadSecondaryWaitSeconds(Settings& settings) {
  const int32_t seconds =
      settings.ReadInteger(kNetworkSection, "SecondaryWait", kDefaultSecondaryWaitSeconds);
  return std::clamp<int32_t>(seconds, 0, 600);
}

bool IsValidUserName(const std::string& name) {
  if (name.empty() || name.size() > 64) return false;
  return std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_' || c == '.';
  });
}

void WriteNetworkUser(Settings& settings, const NetworkUser& user) {
  std::vector<std::string> names = SplitList(settings.ReadString(kNetworkSection, "Users", ""));
  if (std::find(names.begin(), names.end(), user.name) == names.end()) names.push_back(user.name);
  std::string right;
  if (user.secondary) right = "secondary";
  if (user.instcmds) right += right.empty() ? "instcmds" : " instcmds";
  settings.WriteString(kNetworkSection, UserKey(user.name, "Password"), user.password);
  settings.WriteString(kNetworkSection, UserKey(user.name, "Right"), right);
  settings.WriteString(kNetworkSection, "Users", JoinNames(names));
}

void RemoveNetworkUser(Settings& settings, const std::string& name) {
  std::vector<std::string> names = SplitList(settings.ReadString(kNetworkSection, "Users", ""));
  names.erase(std::remove(names.begin(), names.end(), name), names.end());
  settings.WriteString(kNetworkSection, "Users", JoinNames(names));
  settings.DeleteValue(kNetworkSection, UserKey(name, "Password"));
  settings.DeleteValue(kNetworkSection, UserKey(name, "Right"));
}

}  // namespace qelta

namespace qelta {

bool NeedsPasswordWarning(const ListenConfig& listen, const ServedConfig& served) {
  if (!listen.serve) return false;
  const bool beyond_loopback =
      std::any_of(listen.addresses.begin(), listen.addresses.end(),
                  [](const std::string& a) { return !IsLoopbackAddress(a); });
  if (!beyond_loopback) return false;
  if (served.users.empty()) return true;
  return std::any_of(served.users.begin(), served.users.end(),
                     [](const NetworkUser& u) { return u.password.empty(); });
}

std::string ClientUpsName(const ListenConfig& listen, const ServedConfig& served,
                          const std::string& host_name) {
  std::string host = "127.0.0.1";
  for (const std::string& a : listen.addresses) {
    if (IsLoopbackAddress(a)) continue;
    host = a == "0.0.0.0" || a == "::" ? host_name : a;
    break;
  }
  if (host.find(':') != std::string::npos) host = "[" + host + "]";
  std::string name = served.ups_name + "@" + host;
  if (listen.port != kDefaultNetworkPort) name += ":" + std::to_string(listen.port);
  return name;
}

}  // namespace qelta
