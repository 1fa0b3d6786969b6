// scan: which drives answer on a serial line, or on a range of UDP ports.
#include <memory>
#include <vector>

#include "access.h"
#include "commands.h"
#include "platform.h"

namespace zarnctl {

namespace {

bool ParseRange(const std::string& text, int64_t lo, int64_t hi, int64_t* a, int64_t* b) {
  const size_t dash = text.find('-');
  if (dash == std::string::npos) return ParseInteger(text, lo, hi, a) && ((*b = *a), true);
  return ParseInteger(text.substr(0, dash), lo, hi, a) && ParseInteger(text.substr(dash + 1), lo, hi, b) && *a <= *b;
}

[[noreturn]] void Interrupted(const Json& found) {
  Failure f;
  f.kind = "interrupted";
  f.exitStatus = kExitInterrupted;
  f.context = "scan";
  f.message = "interrupted: the scan is incomplete";
  f.details["drives"] = found;
  throw f;
}

Runner DefineScan(CLI::App& c) {
  struct Args {
    std::string ids = "1-16", ports;
  };
  auto a = std::make_shared<Args>();
  c.add_option("--ids", a->ids, "serial: the drive ids to try, A-B (default 1-16)");
  c.add_option("--ports", a->ports, "UDP: the ports to try on HOST, P-Q (at most 31; default: the given port)");
  return [a](Session& s) {
    const ConnectionOptions& o = s.settings.connection;
    Json found = Json::array();
    std::string text;
    if (!o.serial.empty()) {
      int64_t first = 0, last = 0;
      if (!ParseRange(a->ids, 1, 255, &first, &last)) throw UsageFailure("--ids takes A-B within 1 to 255");
      // The first id opens (and claims) the line; the others join it.
      ConnectionOptions first_ = o;
      first_.drive = int(first);
      auto line = Connection::Open(first_, s.Trace());
      // The ids that joined are forgotten before the line closes with the first.
      struct Joined {
        std::vector<int32_t> ids;
        ~Joined() {
          for (int32_t id : ids) ZARN_DriveClose(id);
        }
      } joined;
      Progress bar(s.Out(), "scanning");
      for (int64_t id = first; id <= last; ++id) {
        if (platform::Interrupts() > 0) Interrupted(found);
        bar.Update(double(id - first) / double(last - first + 1), "drive " + std::to_string(id));
        if (id != first) {
          if (ZARN_SDRVOpen(int32_t(id), o.serial.c_str(), o.baud) != ZARN_OK) continue;
          joined.ids.push_back(int32_t(id));
        }
        int32_t online = 0;
        Link(uint8_t(id), s.Trace()).Call("probe", ZARN_IsSlaveOnline, &online);
        if (!online) continue;
        found.push_back(Json{{"id", id}, {"device", o.serial}});
        text += (text.empty() ? "" : ", ") + std::to_string(id);
      }
    } else if (!o.udp.empty()) {
      std::string host, address, error;
      uint16_t port = 0;
      if (!SplitHostPort(o.udp, &host, &port)) throw UsageFailure("--udp takes HOST:PORT");
      int64_t p0 = port, p1 = port;
      if (!a->ports.empty() && (!ParseRange(a->ports, 1, 65535, &p0, &p1) || p1 - p0 > 30))
        throw UsageFailure("--ports takes P-Q, at most 31 ports");
      if (!platform::ResolveIPv4(host, &address, &error))
        throw UsageFailure("cannot find the IPv4 address of " + host + " (" + error + ")");
      Progress bar(s.Out(), "scanning");
      for (int64_t p = p0; p <= p1; ++p) {
        if (platform::Interrupts() > 0) Interrupted(found);
        bar.Update(double(p - p0) / double(p1 - p0 + 1), "port " + std::to_string(p));
        // Each port in a connection of its own (ids 1 to 31: the library keeps
        // no frames for id 0); the open's identification read tells.
        const int id = int(p - p0) + 1;
        if (ZARN_EDRVOpen(id, address.c_str(), uint16_t(p)) != ZARN_OK) continue;
        const bool answered = AnsweredOpen(uint8_t(id));
        ZARN_DriveClose(id);
        if (!answered) continue;
        found.push_back(Json{{"address", address}, {"port", p}});
        text += (text.empty() ? "" : ", ") + address + ":" + std::to_string(p);
      }
    } else {
      throw UsageFailure("scan needs --serial DEVICE or --udp HOST:PORT (with --ports P-Q for a range)");
    }
    Report r;
    r.Add("drives", found, text.empty() ? "(none answered)" : text);
    s.Out().Print("scan", r);
    return 0;
  };
}

}  // namespace

void AddScanCommand(Registry& r) {
  r.Add({"scan", "which drive ids answer on a serial line (--ids), or which UDP ports (--ports)", false, DefineScan});
}

}  // namespace zarnctl
