// zarnctl console: commissioning drives from a web page. Opens the drives,
// serves the page and its API until Ctrl+C, then stops every axis that moves.
#include <cstdio>
#include <memory>
#include <thread>

#include "../commands.h"
#include "../platform.h"
#include "drive.h"
#include "endpoints.h"
#include "server.h"
#include "station.h"

namespace zarnctl {

namespace {

struct ConsoleOptions {
  std::vector<std::string> udp;
  std::string serial;
  uint32_t baud = 115200;
  bool sim = false;
  std::vector<int> drives;
  std::string listen = "127.0.0.1:8080";
};

// The virtual drives of --sim, alive as long as the console.
struct VirtualDrives {
  std::vector<std::unique_ptr<zarn::sim::Drive>> drives;
  std::vector<std::unique_ptr<zarn::sim::UdpEndpoint>> endpoints;
};

// Opens every drive of the options; a drive that is reached but silent is
// kept (the page shows it as not answering, and it joins when it answers).
std::vector<std::unique_ptr<console::Station>> OpenDrives(ConsoleOptions o, const Settings& settings,
                                                          VirtualDrives* virtuals, std::vector<std::string>* warnings) {
  // The global connection options stand when the command has none of its own.
  if (o.udp.empty() && o.serial.empty() && !o.sim) {
    const ConnectionOptions& c = settings.connection;
    if (!c.udp.empty()) o.udp.push_back(c.udp);
    o.serial = c.serial;
    o.baud = c.baud;
    o.sim = c.sim;
    if (o.drives.empty()) o.drives.push_back(c.drive);
  }
  const int given = (o.sim ? 1 : 0) + (o.serial.empty() ? 0 : 1) + (o.udp.empty() ? 0 : 1);
  if (given != 1)
    throw UsageFailure("give one connection: --udp HOST:PORT (once per drive), --serial DEVICE or --sim",
                       "zarnctl console --sim tries it with a virtual drive");
  if (o.drives.empty())
    for (size_t i = 0; i < std::max<size_t>(1, o.udp.size()); ++i) o.drives.push_back(int(i) + 1);
  if (!o.udp.empty() && o.udp.size() != o.drives.size())
    throw UsageFailure(
        std::to_string(o.udp.size()) + " --udp addresses for " + std::to_string(o.drives.size()) + " drive ids",
        "each drive has an address of its own: give one --udp HOST:PORT per --drive ID");
  for (size_t i = 0; i < o.drives.size(); ++i)
    for (size_t j = 0; j < i; ++j)
      if (o.drives[i] == o.drives[j]) throw UsageFailure("drive id " + std::to_string(o.drives[i]) + " given twice");

  std::vector<std::unique_ptr<console::Station>> stations;
  const auto origin = console::Clock::now();
  if (!o.serial.empty()) {
    ConnectionOptions check;
    check.serial = o.serial;
    for (int id : o.drives) {
      check.drive = id;
      CheckDriveId(check);
    }
    for (int id : o.drives) {
      try {
        zarn::Drive drive = zarn::Drive::OpenSerial(uint8_t(id), o.serial, o.baud);
        stations.push_back(std::make_unique<console::Station>(
            std::move(drive), "serial " + o.serial + " at " + std::to_string(o.baud) + " bit/s", origin));
      } catch (const zarn::Error& e) {
        // The library holds the port alone once open; why it would not open, the system tells.
        std::string detail;
        platform::PortClaim probe;
        if (stations.empty() && probe.Claim(o.serial, &detail) != platform::PortState::kOk)
          throw SystemFailure("console", "cannot use " + o.serial + " (" + detail + ")",
                              "check the device name, its permissions, and that no other program holds it");
        throw;
      }
    }
    return stations;
  }
  for (size_t i = 0; i < o.drives.size(); ++i) {
    const int id = o.drives[i];
    ConnectionOptions check;
    check.udp = "x";
    check.drive = id;
    CheckDriveId(check);
    std::string host, address;
    uint16_t udpPort = 0;
    if (o.sim) {
      zarn::sim::DriveConfig config;
      config.id = uint8_t(id);
      virtuals->drives.push_back(std::make_unique<zarn::sim::Drive>(config));
      virtuals->endpoints.push_back(std::make_unique<zarn::sim::UdpEndpoint>(*virtuals->drives.back(), "127.0.0.1", 0));
      if (!virtuals->endpoints.back()->Ok())
        throw SystemFailure("console", "cannot start the virtual drive: " + virtuals->endpoints.back()->Error());
      address = "127.0.0.1";
      udpPort = virtuals->endpoints.back()->Port();
    } else {
      if (!SplitHostPort(o.udp[i], &host, &udpPort))
        throw UsageFailure("--udp takes HOST:PORT, e.g. 192.168.0.15:50000 (got " + o.udp[i] + ")");
      std::string error;
      if (!platform::ResolveIPv4(host, &address, &error))
        throw SystemFailure("console", "cannot find the IPv4 address of " + host + " (" + error + ")",
                            "give the drive's address as digits, e.g. 192.168.0.15");
    }
    zarn::Drive drive = zarn::Drive::OpenUdp(uint8_t(id), address, udpPort);
    const std::string where =
        std::string(o.sim ? "virtual drive, udp " : "udp ") + address + ":" + std::to_string(udpPort);
    if (!AnsweredOpen(uint8_t(id)))
      warnings->push_back("drive " + std::to_string(id) + " (" + where + ") does not answer");
    stations.push_back(std::make_unique<console::Station>(std::move(drive), where, origin));
  }
  return stations;
}

Runner DefineConsole(CLI::App& c) {
  auto o = std::make_shared<ConsoleOptions>();
  c.add_option("--udp", o->udp, "a drive over UDP: HOST:PORT, once per drive")->group("Connection");
  c.add_option("--serial", o->serial, "drives on a serial line: /dev/ttyUSB0, COM3, ...")->group("Connection");
  c.add_option("--baud", o->baud, "serial line speed (default 115200)")
      ->check(CLI::Range(1u, 4000000u))
      ->group("Connection");
  c.add_flag("--sim", o->sim, "virtual drives started in this process")->group("Connection");
  c.add_option("--drive", o->drives, "drive ids (default 1): serial 1-255, UDP 0-31; several may be given")
      ->check(CLI::Range(0, 255))
      ->group("Connection");
  c.add_option("--listen", o->listen,
               "HOST:PORT to serve the page on (default 127.0.0.1:8080; port 0: any free one). Any address but "
               "loopback requires the token printed at start");
  c.footer(
      "\nOpen the address it prints in a browser. Ctrl+C ends it; an axis that moves is stopped first.\n"
      "Examples:\n"
      "  zarnctl console --sim --drive 1 --drive 2\n"
      "  zarnctl console --udp 192.168.0.15:50000 --udp 192.168.0.16:50000 --drive 1 --drive 2\n"
      "  zarnctl console --serial /dev/ttyUSB0 --drive 1 --drive 2 --listen 0.0.0.0:8080\n");
  return [o](Session& session) {
    const Output out = session.Out();
    const console::ListenAddress listen = console::ParseListen(o->listen);
    VirtualDrives virtuals;
    std::vector<std::string> warnings;
    auto stations = OpenDrives(*o, session.settings, &virtuals, &warnings);
    const std::string token = listen.loopback ? "" : console::NewToken();
    console::Server server(stations, listen, token);
    const uint16_t bound = server.Bind();
    for (auto& s : stations) s->StartSampling();
    server.Start();

    const std::string shown = listen.host.find(':') != std::string::npos ? "[" + listen.host + "]" : listen.host;
    const std::string url = "http://" + shown + ":" + std::to_string(bound) + "/";
    Report r;
    r.Text("url", url);
    r.Number("port", bound);
    if (!token.empty()) {
      r.Text("token", token);
      r.Text("open", url + "?token=" + token +
                         (listen.host == "0.0.0.0" || listen.host == "::" ? " (with this machine's address)" : ""));
    }
    Json drives = Json::array();
    std::string driveText;
    for (auto& s : stations) {
      drives.push_back({{"drive", s->Id()}, {"where", s->Where()}});
      driveText += (driveText.empty() ? "" : "; ") + std::to_string(s->Id()) + " (" + s->Where() + ")";
    }
    r.Add("drives", drives, driveText);
    if (!warnings.empty()) r.JsonOnly("warnings", warnings);
    out.Print("console", r);
    if (!out.IsJson()) {
      for (const std::string& w : warnings) fprintf(stderr, "zarnctl console: %s\n", w.c_str());
      printf("Ctrl+C ends the console (an axis that moves is stopped first).\n");
    }
    fflush(stdout);

    while (platform::Interrupts() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    server.Stop();
    for (auto& s : stations) s->StopIfMoving();
    return kExitInterrupted;
  };
}

}  // namespace

void AddConsoleCommand(Registry& r) {
  r.Add({"console", "serve a web page to commission the drives: scope, parameters, motion, alarms, backup", false,
         DefineConsole});
}

}  // namespace zarnctl
