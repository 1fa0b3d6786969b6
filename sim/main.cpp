// zarn-sim: virtual servo drives on UDP and on a serial line.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "drive.h"
#include "endpoints.h"
#include "platform.h"

using namespace zarn::sim;

namespace {

const char kHelp[] =
    "usage: zarn-sim [options]\n"
    "\n"
    "Virtual servo drives that answer the zarn library's requests (Modbus 0x2B/0x0D)\n"
    "over UDP and over a serial line, with a real-time motion model (1 ms tick).\n"
    "\n"
    "Transports (at least one):\n"
    "  --udp HOST:PORT       one UDP socket per drive: the first drive on PORT, the\n"
    "                        next ones on PORT+1, PORT+2, ... (PORT 0: free ports)\n"
    "  --serial-pty          a new pseudo-terminal carrying all drives (path printed;\n"
    "                        not on Windows, which has no pseudo-terminals)\n"
    "  --serial DEVICE       an existing serial device carrying all drives\n"
    "                        (/dev/ttyUSB0, COM3; e.g. one end of a null-modem pair)\n"
    "  --baud N              speed of --serial DEVICE (default 115200)\n"
    "\n"
    "Drives:\n"
    "  --drives LIST         drive ids, comma-separated (default 1)\n"
    "  --state FILE          stored parameters survive restarts in FILE (with several\n"
    "                        drives: FILE-<id>); written when the drive is told to store\n"
    "  --home-switch POS     position of the home sensor (default 0)\n"
    "  --limits NEG:POS      positions of the limit switches (default -100000000:100000000)\n"
    "  --stale-in-position MS\n"
    "                        the in-position bit keeps its old value for MS after a\n"
    "                        move starts, as on many drives (default 0: it drops at once)\n"
    "\n"
    "Faults (every drive; none by default):\n"
    "  --drop SHARE          leave this share of replies unanswered (0 to 1)\n"
    "  --seed N              seed of the drop decisions (default 1)\n"
    "  --delay MS            wait before every reply\n"
    "  --chunks N:GAP        serial: send replies in pieces of N bytes, GAP ms apart\n"
    "  --bad-crc             serial: a wrong CRC on every reply\n"
    "  --bad-echo            a wrong subindex in every echoed request\n"
    "  --refuse IIII:SS=C    answer requests for object IIII:SS with exception C\n"
    "  --oversize            pad every reply far beyond 65 bytes\n"
    "  --persistent-alarm CODE\n"
    "                        an alarm (hexadecimal code) that an alarm reset does not\n"
    "                        clear, as a lasting fault of the drive\n"
    "\n"
    "  --trace               print every request and reply in hex\n"
    "  --help                this text\n"
    "\n"
    "It runs until Ctrl+C or SIGTERM (on Windows also until its console closes).\n";

bool ParseHostPort(const char* text, std::string* host, uint16_t* port) {
  const char* colon = strrchr(text, ':');
  if (!colon) return false;
  host->assign(text, colon);
  char* end = nullptr;
  long p = strtol(colon + 1, &end, 10);
  if (*end || p < 0 || p > 65535) return false;
  *port = uint16_t(p);
  return true;
}

int Fail(const char* what, const char* value) {
  fprintf(stderr, "zarn-sim: %s%s%s\n(see zarn-sim --help)\n", what, value ? ": " : "", value ? value : "");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  os::PrepareForStopRequest();
  std::string udpHost, serialDevice, statePath;
  uint16_t udpPort = 0;
  bool udp = false, pty = false, trace = false;
  uint32_t baud = 115200;
  std::vector<int> ids;
  DriveConfig base;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto next = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
    const char* v = nullptr;
    if (a == "--help" || a == "-h") {
      fputs(kHelp, stdout);
      return 0;
    } else if (a == "--udp") {
      if (!(v = next()) || !ParseHostPort(v, &udpHost, &udpPort)) return Fail("--udp needs HOST:PORT", v);
      udp = true;
    } else if (a == "--serial-pty") {
      pty = true;
    } else if (a == "--serial") {
      if (!(v = next())) return Fail("--serial needs a device", nullptr);
      serialDevice = v;
    } else if (a == "--baud") {
      if (!(v = next()) || atol(v) <= 0) return Fail("--baud needs a speed", v);
      baud = uint32_t(atol(v));
    } else if (a == "--drives") {
      if (!(v = next())) return Fail("--drives needs a list", nullptr);
      for (const char* p = v; *p;) {
        char* end = nullptr;
        long id = strtol(p, &end, 10);
        if (end == p || id < 1 || id > 255) return Fail("drive ids are 1 to 255", v);
        ids.push_back(int(id));
        p = *end == ',' ? end + 1 : end;
        if (*end && *end != ',') return Fail("bad drive list", v);
      }
    } else if (a == "--state") {
      if (!(v = next())) return Fail("--state needs a file", nullptr);
      statePath = v;
    } else if (a == "--home-switch") {
      if (!(v = next())) return Fail("--home-switch needs a position", nullptr);
      base.homeSwitchPosition = int32_t(atol(v));
    } else if (a == "--limits") {
      long neg = 0, pos = 0;
      if (!(v = next()) || sscanf(v, "%ld:%ld", &neg, &pos) != 2 || neg >= pos)
        return Fail("--limits needs NEG:POS", v);
      base.negativeLimit = int32_t(neg);
      base.positiveLimit = int32_t(pos);
    } else if (a == "--stale-in-position") {
      if (!(v = next()) || atoi(v) < 0) return Fail("--stale-in-position needs milliseconds", v);
      base.staleInPositionMs = atoi(v);
    } else if (a == "--persistent-alarm") {
      unsigned code = 0;
      if (!(v = next()) || sscanf(v, "%x", &code) != 1 || code == 0 || code > 0xFFFF)
        return Fail("--persistent-alarm needs a code from 1 to FFFF", v);
      base.faults.persistentAlarm = uint16_t(code);
    } else if (a == "--drop") {
      if (!(v = next()) || atof(v) < 0 || atof(v) > 1) return Fail("--drop needs a share from 0 to 1", v);
      base.faults.dropShare = atof(v);
    } else if (a == "--seed") {
      if (!(v = next())) return Fail("--seed needs a number", nullptr);
      base.faults.seed = uint32_t(strtoul(v, nullptr, 10));
    } else if (a == "--delay") {
      if (!(v = next())) return Fail("--delay needs milliseconds", nullptr);
      base.faults.delayMs = atoi(v);
    } else if (a == "--chunks") {
      if (!(v = next()) || sscanf(v, "%d:%d", &base.faults.chunkSize, &base.faults.chunkGapMs) != 2 ||
          base.faults.chunkSize < 1)
        return Fail("--chunks needs N:GAP", v);
    } else if (a == "--bad-crc") {
      base.faults.badCrc = true;
    } else if (a == "--bad-echo") {
      base.faults.badEcho = true;
    } else if (a == "--refuse") {
      unsigned index = 0, sub = 0, code = 0;
      if (!(v = next()) || sscanf(v, "%x:%x=%u", &index, &sub, &code) != 3 || index > 0xFFFF || sub > 0xFF ||
          code > 0xFF)
        return Fail("--refuse needs IIII:SS=CODE", v);
      base.faults.refuse = true;
      base.faults.refuseIndex = uint16_t(index);
      base.faults.refuseSubIndex = uint8_t(sub);
      base.faults.refuseCode = uint8_t(code);
    } else if (a == "--oversize") {
      base.faults.oversize = true;
    } else if (a == "--trace") {
      trace = true;
    } else {
      return Fail("unknown option", argv[i]);
    }
  }
  if (!udp && !pty && serialDevice.empty()) return Fail("give --udp, --serial-pty or --serial", nullptr);
  if (pty && !serialDevice.empty()) return Fail("one serial line: give --serial-pty or --serial, not both", nullptr);
  if (ids.empty()) ids.push_back(1);

  std::vector<std::unique_ptr<Drive>> drives;
  for (int id : ids) {
    DriveConfig c = base;
    c.id = uint8_t(id);
    if (!statePath.empty()) c.statePath = ids.size() == 1 ? statePath : statePath + "-" + std::to_string(id);
    drives.push_back(std::make_unique<Drive>(c));
  }
  std::vector<std::unique_ptr<UdpEndpoint>> udpEndpoints;
  if (udp) {
    for (size_t i = 0; i < drives.size(); ++i) {
      const uint16_t port = udpPort == 0 ? 0 : uint16_t(udpPort + i);
      udpEndpoints.push_back(std::make_unique<UdpEndpoint>(*drives[i], udpHost, port, trace));
      if (!udpEndpoints.back()->Ok()) return Fail(udpEndpoints.back()->Error().c_str(), nullptr);
      printf("drive %d: udp %s:%u\n", ids[i], udpHost.c_str(), udpEndpoints.back()->Port());
    }
  }
  std::unique_ptr<SerialEndpoint> serial;
  if (pty || !serialDevice.empty()) {
    std::vector<Drive*> onLine;
    for (auto& d : drives) onLine.push_back(d.get());
    serial = std::make_unique<SerialEndpoint>(onLine, pty ? std::string() : serialDevice, baud, trace);
    if (!serial->Ok()) return Fail(serial->Error().c_str(), nullptr);
    std::string list;
    for (int id : ids) list += (list.empty() ? "" : ",") + std::to_string(id);
    printf("serial line: %s (drives %s)\n", serial->Path().c_str(), list.c_str());
  }
  fflush(stdout);

  os::WaitForStopRequest();
  serial.reset();
  udpEndpoints.clear();
  drives.clear();
  printf("zarn-sim: stopped\n");
  return 0;
}
