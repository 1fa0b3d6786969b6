// demo: the whole job on two virtual drives started in this process, one over
// UDP and one on a serial pseudo-terminal (over UDP too where the system has
// none, as Windows): home, move, an alarm at a limit switch, its reset, and a
// plot of drive 1's motion.
#include <chrono>
#include <memory>
#include <thread>

#include "access.h"
#include "axis.h"
#include "commands.h"
#include "drive.h"
#include "endpoints.h"
#include "plot.h"

namespace zarnctl {

namespace {

namespace obj = zarn::objects;

constexpr int32_t kHomeSwitch = -3000;
constexpr int32_t kPositiveLimit = 60000;
constexpr char kPlot[] = "zarn-demo.svg";

Runner DefineDemo(CLI::App&) {
  return [](Session& s) {
    using zarn::sim::DriveConfig;
    const Output out = s.Out();
    DriveConfig first;
    first.id = 1;
    first.homeSwitchPosition = kHomeSwitch;
    first.positiveLimit = kPositiveLimit;
    DriveConfig second = first;
    second.id = 2;
    zarn::sim::Drive udpDrive(first), serialDrive(second);
    zarn::sim::UdpEndpoint udp(udpDrive, "127.0.0.1", 0);
    zarn::sim::SerialEndpoint line({&serialDrive}, "", 115200);
    std::unique_ptr<zarn::sim::UdpEndpoint> udp2;
    if (!line.Ok()) udp2 = std::make_unique<zarn::sim::UdpEndpoint>(serialDrive, "127.0.0.1", 0);
    if (!udp.Ok() || (udp2 && !udp2->Ok()))
      throw SystemFailure("demo", "cannot start the virtual drives: " + udp.Error() + (udp2 ? udp2->Error() : ""));
    out.Say(udp2 ? "zarn demo: two virtual drives over UDP\n"
                 : "zarn demo: virtual drives, one over UDP and one on a serial pseudo-terminal\n");

    // Both drives through the C++ API, closed again however the demo ends.
    zarn::Drive apis[2];
    const Link links[] = {Link(1, s.Trace(), &apis[0]), Link(2, s.Trace(), &apis[1])};
    links[0].Api("open drive 1 over UDP",
                 [&](zarn::Drive& d) { d = zarn::Drive::OpenUdp(1, "127.0.0.1", udp.Port()); });
    out.Say("drive 1: UDP 127.0.0.1:" + std::to_string(udp.Port()));
    if (udp2) {
      links[1].Api("open drive 2 over UDP",
                   [&](zarn::Drive& d) { d = zarn::Drive::OpenUdp(2, "127.0.0.1", udp2->Port()); });
      out.Say("drive 2: UDP 127.0.0.1:" + std::to_string(udp2->Port()) + "\n");
    } else {
      links[1].Api("open drive 2 on the serial line",
                   [&](zarn::Drive& d) { d = zarn::Drive::OpenSerial(2, line.Path(), 115200); });
      out.Say("drive 2: serial " + line.Path() + " at 115200 bit/s\n");
    }

    const Axis axis1(links[0], std::chrono::seconds(10));
    std::vector<Sample> samples;
    const auto t0 = std::chrono::steady_clock::now();
    // Drive 1's motion is plotted, also while drive 2 moves.
    auto record = [&](int32_t) {
      int32_t position = 0, velocity = 0;
      if (links[0].Call("plot sample", ZARN_ActualPosition, &position) == ZARN_OK &&
          links[0].Call("plot sample", ZARN_ActualVelocity, &velocity) == ZARN_OK)
        samples.push_back(
            Sample{std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(), position, velocity});
    };
    auto move = [&](const Axis& axis, bool relative, int32_t value, const Profile& p) {
      axis.StartMove(relative, value, &p);
      if (!axis.WaitMoveDone(record)) throw IncompleteFailure("demo", "a move did not end in position");
      return axis.Position();
    };

    Json drives = Json::array();
    for (const Link& link : links) {
      const Axis axis(link, std::chrono::seconds(10));
      out.Say("-- drive " + std::to_string(link.Id()));
      axis.Enable();
      out.Say("servo enabled");
      const HomingProfile homing{200000, 20000, 4000000, 0};
      const int32_t start = axis.StartHoming(1, homing);
      if (!axis.WaitHomed(homing, start, record)) throw IncompleteFailure("demo", "homing did not end");
      out.Say("homed on the home sensor: position " + std::to_string(axis.Position()));
      int32_t position = move(axis, false, 40000, Profile{100000, 400000, 400000});
      out.Say("absolute move to 40000: position " + std::to_string(position) + ", in position");
      position = move(axis, true, -15000, Profile{150000, 1000000, 600000});
      out.Say("relative move by -15000: position " + std::to_string(position) + ", in position");
      drives.push_back(Json{{"id", link.Id()},
                            {"transport", link.Id() == 1 || udp2 ? "udp" : "serial"},
                            {"homed", true},
                            {"position", position}});
    }

    out.Say("\n-- an alarm on drive 1: a move past the positive limit switch at " + std::to_string(kPositiveLimit));
    Json alarm = Json::object();
    try {
      axis1.StartMove(false, 80000, nullptr);
      axis1.WaitMoveDone(record);
      throw IncompleteFailure("demo", "the move past the limit switch raised no alarm");
    } catch (const Failure& f) {
      if (f.kind != "incomplete" || !axis1.Status().alarm) throw;
    }
    const AxisStatus raised = axis1.Status();
    char history[33] = "";
    links[0].Check("alarm history", ZARN_GetAlarmHistory, uint8_t(1), history);
    out.Say("alarm raised, code " + HexText(raised.alarmCode, 4) + ", history: " + Printable(history));
    alarm["code"] = raised.alarmCode;
    alarm["history"] = history;
    axis1.ResetAlarm();  // which also switches the servo off
    out.Say("after the alarm reset: alarm cleared");
    alarm["cleared"] = true;
    axis1.Enable();
    const int32_t back = move(axis1, false, 0, Profile{100000, 1000000, 1000000});
    out.Say("moved back to " + std::to_string(back));

    if (!WriteSvg(kPlot, samples, "zarn demo: drive 1 over UDP (home, absolute, relative, limit alarm, back)"))
      throw SystemFailure("demo", std::string("cannot write ") + kPlot);
    out.Say("\nsummary");
    for (const Json& d : drives)
      out.Say("  drive " + std::to_string(d["id"].get<int>()) + " (" + d["transport"].get<std::string>() +
              "):" + std::string(d["transport"] == "udp" ? 4 : 1, ' ') + "homed, moved, position " +
              std::to_string(d["position"].get<int>()));
    out.Say("  alarm:            raised at the limit, reset, recovered at " + std::to_string(back));
    out.Say(std::string("  plot:             ") + kPlot + " (" + std::to_string(samples.size()) + " samples)");
    Report r;
    r.JsonOnly("drives", drives);
    r.JsonOnly("alarm", alarm);
    r.JsonOnly("final_position", back);
    r.JsonOnly("plot", kPlot);
    r.JsonOnly("samples", samples.size());
    out.Print("demo", r);
    return 0;
  };
}

}  // namespace

void AddDemoCommand(Registry& r) {
  r.Add({"demo", "the whole job on two built-in virtual drives, with a plot (zarn-demo.svg)", false, DefineDemo});
}

}  // namespace zarnctl
