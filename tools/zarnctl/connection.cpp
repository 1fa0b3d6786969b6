// Opening and closing the session's drive, and the frame trace.
#include <cstdio>
#include <cstdlib>

#include "drive.h"
#include "endpoints.h"
#include "platform.h"
#include "protocol/objects.h"
#include "session.h"

namespace zarnctl {

namespace {

constexpr uint16_t kFrameCapacity = 96;  // longer than any frame the library keeps

std::string HexBytes(const uint8_t* data, size_t n) {
  std::string out;
  char byte[4];
  for (size_t i = 0; i < n; ++i) {
    snprintf(byte, sizeof byte, i ? " %02X" : "%02X", data[i]);
    out += byte;
  }
  return out;
}

Failure ConnectionFailure(const std::string& context, const std::string& message, const std::string& hint,
                          int32_t code = Failure::kNoCode) {
  Failure f;
  f.kind = "connection";
  f.context = context;
  f.message = message;
  f.hint = hint;
  f.code = code;
  return f;
}

}  // namespace

void Tracer::After(const std::string& what, uint8_t drive, int32_t code, Clock::time_point start) const {
  const auto now = Clock::now();
  const double at = std::chrono::duration<double>(start - origin_).count();
  const double took = std::chrono::duration<double, std::milli>(now - start).count();
  fprintf(stderr, "[%9.3f s] %s: %.1f ms, %s\n", at, what.c_str(), took,
          code == ZARN_OK ? "ok" : ("code " + std::to_string(code)).c_str());
  uint8_t frame[kFrameCapacity];
  uint16_t length = 0;
  if (ZARN_GetTxPackets(drive, frame, &length) != ZARN_OK) {
    fprintf(stderr, "    (the library keeps no frames for drive id %u)\n", drive);
    return;
  }
  fprintf(stderr, "    tx %s\n", length ? HexBytes(frame, length).c_str() : "(none)");
  length = 0;
  if (ZARN_GetRxPackets(drive, frame, &length) == ZARN_OK)
    fprintf(stderr, "    rx %s\n", length ? HexBytes(frame, length).c_str() : "(none)");
}

bool AnsweredOpen(uint8_t id) {
  // The open reads the drive's identification once and keeps no result but
  // the reply's bytes: none means that nothing answered.
  uint8_t frame[kFrameCapacity];
  uint16_t length = 0;
  return ZARN_GetRxPackets(id, frame, &length) != ZARN_OK || length > 0;
}

bool SplitHostPort(const std::string& text, std::string* host, uint16_t* port) {
  const size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 == text.size()) return false;
  char* end = nullptr;
  const long p = strtol(text.c_str() + colon + 1, &end, 10);
  if (*end != '\0' || p < 1 || p > 65535) return false;
  *host = text.substr(0, colon);
  *port = uint16_t(p);
  return true;
}

void CheckDriveId(const ConnectionOptions& o) {
  const int given = (o.sim ? 1 : 0) + (o.serial.empty() ? 0 : 1) + (o.udp.empty() ? 0 : 1);
  if (given != 1)
    throw UsageFailure("give one connection: --serial DEVICE, --udp HOST:PORT or --sim",
                       "zarnctl --sim info tries a virtual drive");
  if (!o.serial.empty()) {
    if (o.drive < 1 || o.drive > 255)
      throw UsageFailure("drive id " + std::to_string(o.drive) + " cannot be used on a serial line (ids 1 to 255)",
                         "give the id set on the drive with --drive N");
  } else if (o.drive < 0 || o.drive > 31) {
    throw UsageFailure("drive id " + std::to_string(o.drive) + " cannot be used over UDP (ids 0 to 31)",
                       "over UDP the id only numbers the connection: any of 0 to 31 reaches the drive at HOST:PORT");
  }
}

struct Connection::Parts {
  std::unique_ptr<zarn::sim::Drive> simDrive;
  std::unique_ptr<zarn::sim::UdpEndpoint> simEndpoint;
};

Connection::Connection(uint8_t id, const Tracer* tracer) : link_(id, tracer, &drive_) {}

std::unique_ptr<Connection> Connection::Open(const ConnectionOptions& o, const Tracer* tracer) {
  CheckDriveId(o);
  const uint8_t id = uint8_t(o.drive);
  std::unique_ptr<Connection> c(new Connection(id, tracer));
  c->parts_ = std::make_unique<Parts>();
  const std::string context = "open drive " + std::to_string(id);

  if (!o.serial.empty()) {
    c->where_ = "serial " + o.serial + " at " + std::to_string(o.baud) + " bit/s, drive " + std::to_string(id);
    // Why a port cannot be used, the system tells: probed here and let go at once, as the
    // library holds the port alone (locked) while it is open.
    std::string detail;
    const platform::PortState state = platform::PortClaim().Claim(o.serial, &detail);
    const std::string hint = platform::PortHint(state);
    switch (state) {
      case platform::PortState::kOk: break;
      case platform::PortState::kMissing:
        throw ConnectionFailure(context, o.serial + " does not exist (" + detail + ")", hint);
      case platform::PortState::kPermission:
        throw ConnectionFailure(context, "no permission to open " + o.serial + " (" + detail + ")", hint);
      case platform::PortState::kBusy:
        throw ConnectionFailure(context, o.serial + " is busy (" + detail + ")",
                                "another program uses the port: close it, or use the shell (zarnctl shell) to keep "
                                "one connection for many commands");
      case platform::PortState::kNotSerial:
        throw ConnectionFailure(context, o.serial + " is not a serial device (" + detail + ")", hint);
      case platform::PortState::kOther:
        throw ConnectionFailure(context, "cannot open " + o.serial + " (" + detail + ")", "");
    }
    try {
      c->drive_ = zarn::Drive::OpenSerial(id, o.serial, o.baud);
    } catch (const zarn::Error& e) {
      throw ConnectionFailure(context, MessageOf(e.code().value()),
                              "check the device name and the baud rate (--baud); the line settings may be "
                              "unsupported by the adapter",
                              e.code().value());
    }
    return c;
  }

  std::string host, address;
  uint16_t port = 0;
  if (o.sim) {
    zarn::sim::DriveConfig config;
    config.id = id;
    c->parts_->simDrive = std::make_unique<zarn::sim::Drive>(config);
    c->parts_->simEndpoint = std::make_unique<zarn::sim::UdpEndpoint>(*c->parts_->simDrive, "127.0.0.1", 0);
    if (!c->parts_->simEndpoint->Ok())
      throw ConnectionFailure(context, "cannot start the virtual drive: " + c->parts_->simEndpoint->Error(), "");
    address = host = "127.0.0.1";
    port = c->parts_->simEndpoint->Port();
  } else {
    if (!SplitHostPort(o.udp, &host, &port))
      throw UsageFailure("--udp takes HOST:PORT, e.g. 192.168.0.15:50000 (got " + o.udp + ")");
    std::string error;
    if (!platform::ResolveIPv4(host, &address, &error))
      throw ConnectionFailure(context, "cannot find the IPv4 address of " + host + " (" + error + ")",
                              "give the drive's address as digits, e.g. 192.168.0.15");
  }
  c->where_ = std::string(o.sim ? "virtual drive, udp " : "udp ") + address + ":" + std::to_string(port) + ", drive " +
              std::to_string(id);
  try {
    c->drive_ = zarn::Drive::OpenUdp(id, address, port);
  } catch (const zarn::Error& e) {
    throw ConnectionFailure(context, MessageOf(e.code().value()), HintFor(e.code().value()), e.code().value());
  }
  if (!AnsweredOpen(id))
    throw ConnectionFailure(context,
                            "nothing answered at " + address + ":" + std::to_string(port) +
                                " (no reply to the "
                                "identification read at open)",
                            HintFor(ZARN_E_ETH_NO_REPLY));
  return c;
}

Connection::~Connection() = default;  // the drive closes its connection

Session::~Session() = default;

const Link& Session::Drive() {
  if (!connection_) connection_ = Connection::Open(settings.connection, Trace());
  Trace();
  return connection_->link();
}

}  // namespace zarnctl
