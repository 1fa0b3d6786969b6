// The console's HTTP server: the page, the JSON API and the event stream
// (position, velocity and torque samples, and each drive's state).
//
// Who may use it: on a loopback address, programs of this machine, and pages
// of this server only (the Host must name a loopback address, so another site
// cannot reach it through a name it points at 127.0.0.1; a request from another
// origin is refused; writes must be JSON, which no other site can send without
// asking first). On any other address, also a token, given at start, that every
// request must carry.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "api.h"

namespace zarnctl {
namespace console {

struct ListenAddress {
  std::string host;  // as given, without brackets
  uint16_t port = 0;
  bool loopback = true;
};

// "127.0.0.1:8080", "[::1]:8080", "localhost:8080", "0.0.0.0:8080"; throws a usage failure.
ListenAddress ParseListen(const std::string& text);

// 32 hexadecimal digits from the system's random source.
std::string NewToken();

// Equal texts, in a time that does not depend on where they differ.
bool SameSecret(const std::string& given, const std::string& token);

class Server {
 public:
  // token empty: none required.
  Server(std::vector<std::unique_ptr<Station>>& stations, const ListenAddress& listen, const std::string& token);
  ~Server();
  // Binds the address; the port (the one chosen when 0 was given), or throws a system failure.
  uint16_t Bind();
  // Serves until Stop(), in a thread of its own.
  void Start();
  void Stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace console
}  // namespace zarnctl
