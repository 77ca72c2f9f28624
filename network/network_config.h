#pragma once

#include <string>
#include <vector>

#include "network/protocol_server.h"

namespace qelta {

class Settings;

// Section `Network` of the settings store:
//   Serve (bool, default on), Listen (addresses separated by blanks or commas, default
//   127.0.0.1), Port (3493), UpsName (qelta), Description (empty), SecondaryWait (15 s),
//   Users (user names separated by blanks), and for each user User.<name>.Password and
//   User.<name>.Right (words: "secondary" may LOGIN, "instcmds" may run instant commands).
inline constexpr const char* kNetworkSection = "Network";
inline constexpr int kDefaultNetworkPort = 3493;
inline constexpr int kDefaultSecondaryWaitSeconds = 15;

struct ListenConfig {
  bool serve = true;
  std::vector<std::string> addresses;
  int port = kDefaultNetworkPort;
  bool operator==(const ListenConfig&) const = default;
};

ListenConfig ReadListenConfig(Settings& settings);
ServedConfig ReadServedConfig(Settings& settings);
// `Network`/`SecondaryWait` in seconds, kept within 0 to 600.
int ReadSecondaryWaitSeconds(Settings& settings);

// Splits a list of addresses or names at blanks and commas.
std::vector<std::string> SplitList(const std::string& text);
// True for addresses that only this computer reaches (127.0.0.0/8, ::1, localhost).
bool IsLoopbackAddress(const std::string& address);

// Adds the user or changes its password and right.
void WriteNetworkUser(Settings& settings, const NetworkUser& user);
void RemoveNetworkUser(Settings& settings, const std::string& name);
// A user name the protocol can carry and the store can key: letters, digits, '-', '_', '.'.
bool IsValidUserName(const std::string& name);

}  // namespace qelta

namespace qelta {

// The dialog should warn: the server is reachable from other computers (an address that is not
// loopback) while some user has no password or there is no user at all.
bool NeedsPasswordWarning(const ListenConfig& listen, const ServedConfig& served);
// What a client on another computer names this UPS by: "<ups>@<host>" with ":<port>" when the
// port is not the protocol's own. `host_name` stands for the wildcard addresses.
std::string ClientUpsName(const ListenConfig& listen, const ServedConfig& served,
                          const std::string& host_name);

}  // namespace qelta
