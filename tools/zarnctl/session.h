// A session: the settings of the command line, the one connection to a drive
// that its commands share (a shell keeps it across commands), and the link
// through which every library call is made and traced.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <type_traits>

#include "output.h"
#include "zarn/zarn.hpp"

namespace zarnctl {

struct ConnectionOptions {
  std::string serial;  // device
  uint32_t baud = 115200;
  std::string udp;  // HOST:PORT
  bool sim = false;
  int drive = 1;
};

struct Settings {
  bool json = false;
  bool trace = false;
  int64_t timeoutMs = 30000;  // how long a command waits for the drive (moves, homing, stops)
  ConnectionOptions connection;
};

// --trace: after each library call, the last request and reply frames in hex
// with the time since start and the call's duration, on standard error.
class Tracer {
 public:
  using Clock = std::chrono::steady_clock;
  bool enabled = false;
  void After(const std::string& what, uint8_t drive, int32_t code, Clock::time_point start) const;

 private:
  Clock::time_point origin_ = Clock::now();
};

// One connected drive id. Every call to the library goes through Call (the C
// functions) or Api (the C++ API's zarn::Drive), so that --trace sees it.
class Link {
 public:
  Link(uint8_t id, const Tracer* tracer, zarn::Drive* drive = nullptr) : id_(id), tracer_(tracer), drive_(drive) {}
  uint8_t Id() const { return id_; }
  zarn::Drive* Drive() const { return drive_; }

  template <typename F, typename... A>
  int32_t Call(const std::string& what, F function, A... args) const {
    const auto start = Tracer::Clock::now();
    const int32_t code = function(id_, args...);
    if (tracer_->enabled) tracer_->After(what, id_, code, start);
    return code;
  }
  // As Call; a failing code is thrown as a failure of `what`.
  template <typename F, typename... A>
  void Check(const std::string& what, F function, A... args) const {
    const int32_t code = Call(what, function, args...);
    if (code != ZARN_OK) throw LibraryFailure(what, code);
  }
  // Runs f on the C++ API's drive; a zarn::Error is thrown as a failure of `what`.
  template <typename F>
  auto Api(const std::string& what, F f) const {
    const auto start = Tracer::Clock::now();
    try {
      if constexpr (std::is_void_v<decltype(f(*drive_))>) {
        f(*drive_);
        if (tracer_->enabled) tracer_->After(what, id_, ZARN_OK, start);
      } else {
        auto result = f(*drive_);
        if (tracer_->enabled) tracer_->After(what, id_, ZARN_OK, start);
        return result;
      }
    } catch (const zarn::Error& e) {
      if (tracer_->enabled) tracer_->After(what, id_, e.code().value(), start);
      throw LibraryFailure(what, e.code().value());
    }
  }

 private:
  uint8_t id_;
  const Tracer* tracer_;
  zarn::Drive* drive_;
};

// Opens the drive named by the options, with the checks that turn a failed
// open into a cause and a remedy; closes it on destruction.
class Connection {
 public:
  static std::unique_ptr<Connection> Open(const ConnectionOptions& options, const Tracer* tracer);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  const Link& link() const { return link_; }
  const std::string& Where() const { return where_; }

 private:
  struct Parts;
  Connection(uint8_t id, const Tracer* tracer);
  std::unique_ptr<Parts> parts_;  // the port claim and a virtual drive outlive the connection
  zarn::Drive drive_;
  Link link_;
  std::string where_;
};

// Whether an Ethernet drive answered the identification read of its open.
bool AnsweredOpen(uint8_t id);
// "HOST:PORT" split; false when it is not of that form.
bool SplitHostPort(const std::string& text, std::string* host, uint16_t* port);
// The drive ids a transport can address: serial 1-255, UDP (and --sim) 0-31.
void CheckDriveId(const ConnectionOptions& options);

class Session {
 public:
  explicit Session(const Settings& settings) : settings(settings) {}
  ~Session();
  Settings settings;
  Output Out() const { return Output(settings.json); }
  // Follows settings.trace (a shell line may set it for itself).
  const Tracer* Trace() {
    tracer_.enabled = settings.trace;
    return &tracer_;
  }
  // The session's drive, opened at first use.
  const Link& Drive();
  bool HasDrive() const { return connection_ != nullptr; }
  // How the drive is reached: "udp 127.0.0.1:50000, drive 1".
  std::string Where() const { return connection_ ? connection_->Where() : ""; }
  std::chrono::milliseconds Timeout() const { return std::chrono::milliseconds(settings.timeoutMs); }

 private:
  Tracer tracer_;
  std::unique_ptr<Connection> connection_;
};

}  // namespace zarnctl
