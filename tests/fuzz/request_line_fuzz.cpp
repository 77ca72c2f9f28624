// The network protocol's request lines and the server's handling of any bytes a client sends.
//
// Every line that splits into arguments must split the same again once each argument is
// written as answers write values (quoted, escaped): the parser and the quoting agree. The same
// bytes, cut into pieces where the input's first byte says, go through the protocol server of
// one connection: it must answer in whole lines, never take a line over its limit, and never
// grant a login or a command to the user without the password.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "link/modems.h"
#include "network/protocol_server.h"
#include "network/request_line.h"

namespace {

[[noreturn]] void Fail(const char* what, std::string_view text) {
  std::fprintf(stderr, "%s (input of %zu bytes, first 200: \"%.*s\")\n", what, text.size(),
               static_cast<int>(text.size() < 200 ? text.size() : 200), text.data());
  std::abort();
}

class Ups : public qelta::ServedUps {
 public:
  qelta::TUPSStatus status =
      qelta::ParseStatusReply("(230.5 140.0 229.8 025 49.9 13.60 25.0 00001001\r");
  int commands = 0;
  bool LinkOK() override { return true; }
  const qelta::TUPSStatus& LastStatus() override { return status; }
  uint32_t LastPollTime() override { return 0; }
  bool RunInstantCommand(const std::string&) override {
    ++commands;
    return true;
  }
};

void CheckRoundTrip(std::string_view line) {
  const auto args = qelta::SplitRequestLine(line);
  if (!args) return;
  std::string again;
  for (const std::string& a : *args) {
    for (const char c : a) {
      if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return;  // quoting blanks these
    }
    again += qelta::QuotedValue(a) + " ";
  }
  const auto reparsed = qelta::SplitRequestLine(again);
  if (!reparsed || *reparsed != *args) Fail("quoted arguments split differently", line);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  size_t start = 0;
  while (start <= input.size()) {
    const size_t end = input.find('\n', start);
    CheckRoundTrip(input.substr(start, end == std::string_view::npos ? end : end - start));
    if (end == std::string_view::npos) break;
    start = end + 1;
  }

  Ups ups;
  // "locked" has a password nobody sends here; "open" has none and so never gets in.
  qelta::ProtocolServer server(ups, [] {
    qelta::ServedConfig config;
    config.users = {{"locked", "\x01unguessable\x02", true, true}, {"open", "", true, true}};
    return config;
  });
  if (!server.Open(1, "127.0.0.1", 0)) Fail("first connection refused", input);
  const size_t piece = size > 0 ? 1 + data[0] % 64 : 1;
  bool closed = false;
  for (size_t at = 0; at < input.size() && !closed; at += piece) {
    const auto answer = server.Receive(1, input.substr(at, piece), 0);
    if (!answer.bytes.empty() && answer.bytes.back() != '\n')
      Fail("answer not in whole lines", input);
    closed = answer.close;
  }
  if (server.LoginCount() != 0) Fail("logged in without the password", input);
  if (ups.commands != 0) Fail("ran a command without the password", input);
  return 0;
}
