// The drive's state: info, enable, disable, estop, reset-alarm, alarms, io, monitor.
#include <memory>

#include "access.h"
#include "axis.h"
#include "commands.h"
#include "platform.h"
#include "poll.h"

namespace zarnctl {

namespace {

namespace obj = zarn::objects;

void AddState(Report& r, const AxisStatus& st) {
  r.Flag("servo_on", st.servoOn);
  r.Flag("emergency_stop", st.emergencyStop);
  r.Flag("alarm", st.alarm);
  r.Hex("error_code", st.alarmCode, 4);
}

Runner DefineInfo(CLI::App&) {
  return [](Session& s) {
    const Link& link = s.Drive();
    const Axis axis(link, s.Timeout());
    Report r;
    r.Number("drive", link.Id());
    r.Text("connection", s.Where());
    r.Hex("identification", uint64_t(ReadNumber(link, obj::OpenProbe)), 4);
    int32_t version = 0;
    ZARN_GetZarnDllVersion(&version);
    r.Hex("library_version", uint32_t(version), 8);
    const struct {
      const char* key;
      const obj::Object& object;
    } monitors[] = {
        {"position", obj::ActualPosition},      {"velocity", obj::ActualVelocity},
        {"torque", obj::ActualTorque},          {"dc_link_voltage", obj::DcLinkVoltage},
        {"temperature", obj::DriveTemperature}, {"overload", obj::AccumOverload},
        {"single_turn", obj::SingleTurnData},   {"multi_turn", obj::MultiTurnData},
    };
    for (const auto& m : monitors) r.Number(m.key, ReadNumber(link, m.object));
    r.Hex("warning_code", uint64_t(ReadNumber(link, obj::WarningCode)), 4);
    const AxisStatus st = axis.Status();
    AddState(r, st);
    r.Flag("servo_enable_bit", st.servoCommanded);
    r.Flag("homed", st.homed);
    r.Flag("in_position", st.inPosition);
    r.Hex("control_input_1", st.control1, 4);
    r.Hex("state_output", st.state, 4);
    s.Out().Print("info", r);
    return 0;
  };
}

// A servo command with the drive's state after it.
Runner StateCommand(const std::string& name, void (Axis::*action)() const) {
  return [name, action](Session& s) {
    const Axis axis(s.Drive(), s.Timeout());
    (axis.*action)();
    Report r;
    AddState(r, axis.Status());
    s.Out().Print(name, r);
    return 0;
  };
}

Runner DefineEstop(CLI::App& c) {
  auto release = std::make_shared<bool>(false);
  c.add_flag("--release", *release, "release a latched emergency stop; the servo stays off");
  return [release](Session& s) {
    const Axis axis(s.Drive(), s.Timeout());
    if (*release)
      axis.ReleaseEmergencyStop();
    else
      axis.EmergencyStop();
    Report r;
    AddState(r, axis.Status());
    s.Out().Print("estop", r);
    return 0;
  };
}

Runner DefineAlarms(CLI::App&) {
  return [](Session& s) {
    const Link& link = s.Drive();
    const AxisStatus st = Axis(link, s.Timeout()).Status();
    Json history = Json::array();
    std::string text;
    for (uint8_t n = 1; n <= 16; ++n) {
      char entry[33] = "";
      if (link.Call("alarm history " + std::to_string(n), ZARN_GetAlarmHistory, n, entry) != ZARN_OK ||
          entry[0] == '\0')
        break;
      history.push_back(entry);
      text += (text.empty() ? "" : "; ") + Printable(entry);
    }
    Report r;
    r.Flag("alarm", st.alarm);
    r.Hex("error_code", st.alarmCode, 4);
    r.Add("history", history, text.empty() ? "(empty)" : text);
    s.Out().Print("alarms", r);
    return 0;
  };
}

Runner DefineIo(CLI::App&) {
  return [](Session& s) {
    const Link& link = s.Drive();
    const uint64_t inputs = uint64_t(ReadNumber(link, obj::DigitalInputs));
    Report r;
    r.Hex("inputs", inputs, 8);
    r.Hex("outputs", uint64_t(ReadNumber(link, obj::DigitalOutputs)), 8);
    r.Flag("negative_limit", (inputs >> obj::bits::kNegativeLimit) & 1);
    r.Flag("positive_limit", (inputs >> obj::bits::kPositiveLimit) & 1);
    r.Flag("home_sensor", (inputs >> obj::bits::kHomeSwitch) & 1);
    r.Flag("torque_limit", (ReadNumber(link, obj::StateOutput) >> obj::bits::kTorqueLimit) & 1);
    s.Out().Print("io", r);
    return 0;
  };
}

Runner DefineMonitor(CLI::App& c) {
  struct Args {
    int64_t interval = 200;
    int64_t count = 0;
  };
  auto a = std::make_shared<Args>();
  c.add_option("--interval", a->interval, "time between samples (ms, default 200)")
      ->check(CLI::Range(int64_t(10), int64_t(60000)));
  c.add_option("--count", a->count, "number of samples (default: until Ctrl+C)")
      ->check(CLI::Range(int64_t(1), int64_t(1000000000)));
  return [a](Session& s) {
    const Link& link = s.Drive();
    const Axis axis(link, s.Timeout());
    const Output out = s.Out();
    const bool redraw = !out.IsJson() && platform::IsTerminal(platform::Stream::kOut);
    int64_t n = 0;
    PollOptions o;
    o.interval = std::chrono::milliseconds(a->interval);
    const PollEnd end = PollUntil(o, [&] {
      const AxisStatus st = axis.Status();
      Report r;
      r.Number("sample", n);
      r.Number("position", axis.Position());
      r.Number("velocity", axis.Velocity());
      r.Number("torque", ReadNumber(link, obj::ActualTorque));
      r.Flag("servo_on", st.servoOn);
      r.Flag("alarm", st.alarm);
      r.Flag("in_position", st.inPosition);
      r.Flag("in_velocity", st.inVelocity);
      r.Flag("torque_limit", st.torqueLimit);
      if (out.IsJson()) {
        out.Print("monitor", r);
      } else {
        // On a terminal the two lines are drawn over the last ones.
        const Json& f = r.Fields();
        const char* clear = redraw ? "\033[K" : "";
        if (redraw && n > 0) printf("\033[2A");
        printf("position %12lld   velocity %10lld   torque %6lld%s\n", f["position"].get<long long>(),
               f["velocity"].get<long long>(), f["torque"].get<long long>(), clear);
        printf("servo %-3s  alarm %-3s  in-position %-3s  in-velocity %-3s  torque-limit %-3s%s\n",
               st.servoOn ? "on" : "off", st.alarm ? "YES" : "no", st.inPosition ? "yes" : "no",
               st.inVelocity ? "yes" : "no", st.torqueLimit ? "yes" : "no", clear);
        fflush(stdout);
      }
      return ++n == a->count;
    });
    if (end == PollEnd::kInterrupted) {
      Failure f;
      f.kind = "interrupted";
      f.exitStatus = kExitInterrupted;
      f.message = "interrupted after " + std::to_string(n) + " samples";
      throw f;
    }
    return 0;
  };
}

}  // namespace

void AddServoCommands(Registry& r) {
  r.Add({"info", "identity, monitors and the drive's state (servo, emergency stop, alarm)", true, DefineInfo});
  r.Add({"enable", "switch the servo on (refused under an emergency stop or an alarm)", true,
         [](CLI::App&) { return StateCommand("enable", &Axis::Enable); }});
  r.Add({"disable", "switch the servo off", true, [](CLI::App&) { return StateCommand("disable", &Axis::Disable); }});
  r.Add({"estop", "emergency stop (latched); --release releases it with the servo off", true, DefineEstop});
  r.Add({"reset-alarm", "clear the drive's alarm; fails when it stays", true,
         [](CLI::App&) { return StateCommand("reset-alarm", &Axis::ResetAlarm); }});
  r.Add({"alarms", "alarm state, code and history", true, DefineAlarms});
  r.Add({"io", "digital inputs and outputs, limit and home switches", true, DefineIo});
  r.Add({"monitor", "live position, velocity, torque and state until Ctrl+C", true, DefineMonitor});
}

}  // namespace zarnctl
