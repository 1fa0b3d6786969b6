#include "api.h"

#include <cstring>
#include <sstream>
#include <thread>

#include "../access.h"
#include "../app.h"
#include "../backup.h"
#include "protocol/objects.h"

namespace zarnctl {
namespace console {

namespace {

namespace obj = zarn::objects;

// An answer other than 200, thrown by the handlers.
struct Refusal {
  int status;
  Json error;
};

[[noreturn]] void Refuse(int status, const std::string& message, const std::string& hint = "") {
  Json error = {{"message", message}};
  if (!hint.empty()) error["hint"] = hint;
  throw Refusal{status, error};
}

const char* CodeName(int32_t code) {
  switch (code) {
#define ZARN_CONSOLE_NAME_(value, name, text) \
  case value: return #name;
    ZARN_ERROR_LIST(ZARN_CONSOLE_NAME_)
    ZARN_MOTION_ERROR_LIST(ZARN_CONSOLE_NAME_)
#undef ZARN_CONSOLE_NAME_
    default: return "";
  }
}

// How a library code answers: the drive's state refuses (409), the drive
// refused the request (422), the request was wrong (400), the drive or the
// line failed (502), or there is no connection (503).
int StatusOf(int32_t code) {
  if (code >= ZARN_E_ALARM_ACTIVE) return 409;
  if (code >= ZARN_E_REPLY_UNKNOWN && code <= ZARN_E_REPLY_FILE_CHECK) return 422;
  if (code == ZARN_E_INVALID_PARAM || code == ZARN_E_STRING_TOO_LONG || code == ZARN_E_ID_RANGE) return 400;
  if (code == ZARN_E_NO_CONNECTION || code == ZARN_E_ETH_NO_SLOT) return 503;
  return 502;
}

Refusal LibraryRefusal(int32_t code, const std::string& context) {
  Json error = {{"message", zarn::error_category().message(code)}, {"code", code}, {"name", CodeName(code)}};
  if (!context.empty()) error["context"] = context;
  const std::string hint = HintFor(code);
  if (!hint.empty()) error["hint"] = hint;
  return Refusal{StatusOf(code), error};
}

Refusal FromError(const zarn::Error& e) {
  // what() is "<operation>, drive N[, alarm 0x....]: <message>".
  std::string context = e.what();
  const std::string message = e.code().message();
  if (context.size() > message.size() + 2 &&
      context.compare(context.size() - message.size(), message.size(), message) == 0)
    context.resize(context.size() - message.size() - 2);
  return LibraryRefusal(e.code().value(), context);
}

Refusal FromFailure(const Failure& f) {
  if (f.code != Failure::kNoCode) {
    Refusal r = LibraryRefusal(f.code, f.context);
    if (!f.hint.empty()) r.error["hint"] = f.hint;
    return r;
  }
  Json error = {{"message", f.message}};
  if (!f.context.empty()) error["context"] = f.context;
  if (!f.hint.empty()) error["hint"] = f.hint;
  const int status = f.kind == "usage" ? 400 : f.kind == "incomplete" || f.kind == "interrupted" ? 409 : 500;
  return Refusal{status, error};
}

std::string Answer(const Json& body) { return Dump(body); }

// ------------------------------------------------------------ input

Json ParseBody(const std::string& body) {
  if (body.empty()) return Json::object();
  Json doc;
  try {
    doc = Json::parse(body);
  } catch (const Json::exception& e) {
    Refuse(400, std::string("the body is not JSON: ") + e.what());
  }
  if (!doc.is_object()) Refuse(400, "the body is not a JSON object");
  return doc;
}

// An integer field in [lo, hi]; missing: `fallback` when given, else refused.
int64_t Integer(const Json& body, const char* key, int64_t lo, int64_t hi, const int64_t* fallback = nullptr) {
  const auto range = [&] {
    return "\"" + std::string(key) + "\" must be an integer from " + std::to_string(lo) + " to " + std::to_string(hi);
  };
  if (!body.contains(key)) {
    if (fallback) return *fallback;
    Refuse(400, "\"" + std::string(key) + "\" is missing: " + range().substr(strlen(key) + 3));
  }
  const Json& v = body[key];
  int64_t x = 0;
  if (v.is_number_unsigned()) {
    const uint64_t u = v.get<uint64_t>();
    if (u > uint64_t(INT64_MAX)) Refuse(400, range());
    x = int64_t(u);
  } else if (v.is_number_integer()) {
    x = v.get<int64_t>();
  } else {
    Refuse(400, range());
  }
  if (x < lo || x > hi) Refuse(400, range() + " (got " + std::to_string(x) + ")");
  return x;
}

constexpr int64_t kU32 = 0xFFFFFFFFll;

zarn::Profile ProfileOf(const Json& body) {
  zarn::Profile p;
  p.velocity = uint32_t(Integer(body, "velocity", 1, kU32));
  p.acceleration = uint32_t(Integer(body, "acceleration", 1, kU32));
  p.deceleration = uint32_t(Integer(body, "deceleration", 1, kU32));
  return p;
}

// ------------------------------------------------------------ the object map

const char* UnitOf(const obj::Object& o) {
  struct Unit {
    const obj::Object* object;
    const char* unit;
  };
  // Units follow the usual drive profile; the drive's own scaling applies.
  static const Unit units[] = {
      {&obj::ActualPosition, "pos. units"},
      {&obj::TargetPosition, "pos. units"},
      {&obj::HomeOffset, "pos. units"},
      {&obj::PositionWindow, "pos. units"},
      {&obj::TouchProbe1Positive, "pos. units"},
      {&obj::TouchProbe1Negative, "pos. units"},
      {&obj::TouchProbe2Positive, "pos. units"},
      {&obj::TouchProbe2Negative, "pos. units"},
      {&obj::ActualVelocity, "pos. units/s"},
      {&obj::TargetVelocity, "pos. units/s"},
      {&obj::VelocityWindow, "pos. units/s"},
      {&obj::MaxProfileVelocity, "pos. units/s"},
      {&obj::ProfileVelocity, "pos. units/s"},
      {&obj::HomingSwitchSpeed, "pos. units/s"},
      {&obj::HomingZeroSpeed, "pos. units/s"},
      {&obj::ProfileAcceleration, "pos. units/s²"},
      {&obj::ProfileDeceleration, "pos. units/s²"},
      {&obj::QuickStopDeceleration, "pos. units/s²"},
      {&obj::HomingAcceleration, "pos. units/s²"},
      {&obj::PositionWindowTime, "ms"},
      {&obj::VelocityWindowTime, "ms"},
      {&obj::ActualTorque, "0.1 % rated"},
      {&obj::TargetTorque, "0.1 % rated"},
      {&obj::FeedbackSpeed, "rpm"},
      {&obj::DcLinkVoltage, "V"},
      {&obj::DriveTemperature, "°C"},
  };
  for (const Unit& u : units)
    if (u.object->index == o.index && u.object->subIndex == o.subIndex) return u.unit;
  return "";
}

Json ObjectMap() {
  Json list = Json::array();
  for (const obj::Object& o : obj::kAll) {
    const Target t = TargetOf(o);
    list.push_back({{"name", o.name},
                    {"address", t.Address()},
                    {"type", t.type->name},
                    {"access", AccessName(o.access)},
                    {"unit", UnitOf(o)},
                    {"meaning", o.meaning}});
  }
  return list;
}

// An object of the map named in a path: its name (any case) or its address.
Target MapObject(const std::string& text) {
  Target t;
  try {
    t = ResolveTarget(text);
  } catch (const Failure&) {
    t.object = nullptr;
  }
  if (!t.object) Refuse(404, "no object " + text + " in the object map", "GET /api/objects lists them");
  return t;
}

Json ValueJson(const Target& t, const Value& v) {
  Json j = {{"name", t.object->name}, {"address", t.Address()}};
  if (t.type->width == 0) {
    j["value"] = v.text;
  } else {
    j["value"] = v.number;
    j["hex"] = HexOf(*t.type, v.number);
  }
  return j;
}

Json ReadObject(const Link& link, const Target& t) {
  Value v;
  const int32_t code = ReadTyped(link, t, *t.type, &v);
  if (code != ZARN_OK) throw LibraryRefusal(code, "read " + t.Label());
  return ValueJson(t, v);
}

Json WriteObject(const Link& link, const Target& t, const Json& body) {
  if (t.object->access != obj::Access::kSetting)
    Refuse(409,
           std::string(t.object->name) + (t.object->access == obj::Access::kMonitor
                                              ? " is the drive's own value: it cannot be written"
                                              : " is a command: the motion panel writes it"),
           "the table writes settings");
  if (!body.contains("value")) Refuse(400, "\"value\" is missing");
  const Json& given = body["value"];
  std::string text;
  if (given.is_number_integer())
    text = given.dump();
  else if (given.is_string())
    text = given.get<std::string>();
  else
    Refuse(400, "\"value\" must be an integer or a text holding one (decimal, or hexadecimal with 0x)");
  const Value value = ParseValue(text, *t.type);  // range-checked for the object's type
  const int32_t code = WriteTyped(link, t, *t.type, value);
  if (code != ZARN_OK) throw LibraryRefusal(code, "write " + t.Label());
  Value back;
  const int32_t readCode = ReadTyped(link, t, *t.type, &back);
  if (readCode != ZARN_OK) throw LibraryRefusal(readCode, "read back " + t.Label());
  Json answer = ValueJson(t, back);
  answer["written"] = value.number;
  if (back.number != value.number) {
    Json error = {{"message", "the drive holds " + std::to_string(back.number) + " after " +
                                  std::to_string(value.number) + " was written"},
                  {"context", "write " + t.Label()},
                  {"value", back.number}};
    throw Refusal{409, error};
  }
  return answer;
}

// ------------------------------------------------------------ the drive

Json Fresh(Station& station, zarn::Drive& drive) {
  const zarn::DriveStatus s = drive.Status();
  Json state = station.State();
  state["status"] = StatusJson(s);
  state["position"] = drive.Position();
  return state;
}

Json AlarmsOf(zarn::Drive& drive, const Link& link) {
  const zarn::DriveStatus s = drive.Status();
  Json history = Json::array();
  for (uint8_t n = 1; n <= 16; ++n) {
    char entry[33] = "";
    const int32_t code = link.Call("alarm history", ZARN_GetAlarmHistory, n, entry);
    if (code != ZARN_OK) throw LibraryRefusal(code, "read alarm history entry " + std::to_string(n));
    if (entry[0] == '\0') break;
    history.push_back(entry);
  }
  return {{"alarm", s.alarm}, {"alarm_code", s.alarmCode}, {"history", history}};
}

// Long commands give way to an emergency stop between their requests.
BackupStep GiveWay(Station& station) {
  return [&station](double, const std::string& next, int written) {
    if (!station.Urgent()) return;
    Json error = {{"message", "ended by the emergency stop before " + next + " (" + std::to_string(written) +
                                  " values were written)"}};
    throw Refusal{409, error};
  };
}

ApiAnswer Ok(const Json& body) { return ApiAnswer{200, Answer(body), ""}; }

std::vector<std::string> Split(const std::string& path) {
  std::vector<std::string> parts;
  std::stringstream in(path);
  std::string part;
  while (std::getline(in, part, '/'))
    if (!part.empty()) parts.push_back(part);
  return parts;
}

}  // namespace

Station* Api::Find(const std::string& id) const {
  for (auto& s : stations_)
    if (std::to_string(s->Id()) == id) return s.get();
  std::string ids;
  for (auto& s : stations_) ids += (ids.empty() ? "" : ", ") + std::to_string(s->Id());
  Refuse(404, "no drive " + id + " in this console (drives: " + ids + ")");
}

ApiAnswer Api::EmergencyStopAll() const {
  // All at once: a drive that does not answer (a second or two a request)
  // must not hold up the others.
  std::vector<Json> results(stations_.size());
  std::vector<std::thread> senders;
  for (size_t i = 0; i < stations_.size(); ++i)
    senders.emplace_back([this, i, &results] {
      Station& s = *stations_[i];
      try {
        s.EmergencyStop();
        results[i] = {{"drive", s.Id()}, {"ok", true}};
      } catch (const zarn::Error& e) {
        results[i] = {{"drive", s.Id()}, {"ok", false}, {"error", FromError(e).error}};
      }
    });
  for (std::thread& t : senders) t.join();
  bool all = true;
  for (const Json& r : results) all = all && r["ok"].get<bool>();
  if (all) return Ok({{"ok", true}, {"drives", results}});
  return ApiAnswer{
      502, Answer({{"error", {{"message", "the emergency stop did not reach every drive"}}}, {"drives", results}}), ""};
}

ApiAnswer Api::Handle(const ApiRequest& request) const {
  const std::vector<std::string> p = Split(request.path);
  const std::string& method = request.method;
  const auto is = [&](const char* m, std::initializer_list<const char*> path) {
    if (p.size() != path.size() + 1) return false;
    size_t i = 1;
    for (const char* part : path) {
      if (std::strcmp(part, "*") != 0 && p[i] != part) return false;
      ++i;
    }
    if (method != m) Refuse(405, method + " is not taken here (" + m + " is)");
    return true;
  };
  try {
    if (p.empty() || p[0] != "api") Refuse(404, "no such page: " + request.path);
    if (is("GET", {"info"})) {
      Json drives = Json::array();
      for (auto& s : stations_) drives.push_back({{"drive", s->Id()}, {"where", s->Where()}});
      return Ok({{"version", VersionText()},
                 {"drives", drives},
                 {"sample_period_ms", Station::kSamplePeriod.count()},
                 {"jog_lease_ms", Station::kJogLease.count()}});
    }
    if (is("GET", {"objects"})) return Ok(ObjectMap());
    if (is("POST", {"estop"})) return EmergencyStopAll();
    if (is("GET", {"drives"})) {
      Json list = Json::array();
      for (auto& s : stations_) list.push_back(s->State());
      return Ok(list);
    }
    if (p.size() < 3 || p[1] != "drives") Refuse(404, "no such request: " + request.path);
    Station& station = *Find(p[2]);
    const Json body = method == "GET" ? Json::object() : ParseBody(request.body);
    // The state as read back after a command.
    const auto command = [&](auto work) {
      return Ok(station.Command([&](zarn::Drive& drive, const Link& link) {
        work(drive, link);
        return Json{{"ok", true}, {"state", Fresh(station, drive)}};
      }));
    };
    const auto drivePath = [&](const char* m, std::initializer_list<const char*> rest) {
      if (p.size() != rest.size() + 3) return false;
      size_t i = 3;
      for (const char* part : rest) {
        if (std::strcmp(part, "*") != 0 && p[i] != part) return false;
        ++i;
      }
      if (method != m) Refuse(405, method + " is not taken here (" + m + " is)");
      return true;
    };

    if (drivePath("GET", {}))
      return Ok(station.Command([&](zarn::Drive& drive, const Link&) { return Fresh(station, drive); }));
    if (drivePath("GET", {"objects"})) {
      return Ok(station.Command([&](zarn::Drive&, const Link& link) {
        Json list = Json::array();
        for (const obj::Object& o : obj::kAll) {
          if (station.Urgent()) Refuse(409, "ended by the emergency stop");
          const Target t = TargetOf(o);
          try {
            list.push_back(ReadObject(link, t));
          } catch (const Refusal& r) {
            list.push_back({{"name", o.name}, {"address", t.Address()}, {"error", r.error}});
          }
        }
        return list;
      }));
    }
    if (p.size() == 5 && p[3] == "objects") {
      const Target t = MapObject(p[4]);
      if (method == "GET") return Ok(station.Command([&](zarn::Drive&, const Link& l) { return ReadObject(l, t); }));
      if (method == "PUT")
        return Ok(station.Command([&](zarn::Drive&, const Link& l) { return WriteObject(l, t, body); }));
      Refuse(405, method + " is not taken here (GET and PUT are)");
    }
    if (drivePath("POST", {"enable"})) return command([](zarn::Drive& d, const Link&) { d.Enable(); });
    if (drivePath("POST", {"disable"}))
      return command([&](zarn::Drive& d, const Link&) {
        station.ForgetJog("servo off");
        d.Disable();
      });
    if (drivePath("POST", {"stop"})) {
      station.Stop("stop");
      return command([](zarn::Drive&, const Link&) {});
    }
    if (drivePath("POST", {"estop"})) {
      station.EmergencyStop();
      return command([](zarn::Drive&, const Link&) {});
    }
    if (drivePath("POST", {"estop", "release"}))
      return command([](zarn::Drive& d, const Link&) { d.ReleaseEmergencyStop(); });
    if (drivePath("POST", {"alarm", "reset"}))
      return command([&](zarn::Drive& d, const Link&) {
        station.ForgetJog("alarm reset");
        d.ResetAlarm();
      });
    if (drivePath("POST", {"move"})) {
      const std::string mode = body.value("mode", "");
      if (mode != "absolute" && mode != "relative") Refuse(400, "\"mode\" must be \"absolute\" or \"relative\"");
      const int32_t target = int32_t(Integer(body, "target", INT32_MIN, INT32_MAX));
      const zarn::Profile profile = ProfileOf(body);
      return command([&](zarn::Drive& d, const Link&) {
        station.ForgetJog("a move");
        if (mode == "absolute")
          d.MoveAbsolute(target, profile);
        else
          d.MoveRelative(target, profile);
      });
    }
    if (drivePath("POST", {"home"})) {
      const int8_t method8 = int8_t(Integer(body, "method", INT8_MIN, INT8_MAX));
      zarn::HomingProfile h;
      h.switchSpeed = int32_t(Integer(body, "switch_speed", INT32_MIN, INT32_MAX));
      h.zeroSpeed = int32_t(Integer(body, "zero_speed", INT32_MIN, INT32_MAX));
      h.acceleration = uint32_t(Integer(body, "acceleration", 1, kU32));
      const int64_t noOffset = 0;
      h.offset = int16_t(Integer(body, "offset", INT16_MIN, INT16_MAX, &noOffset));
      return command([&](zarn::Drive& d, const Link&) {
        station.ForgetJog("homing");
        // Started, not waited for: the page follows the homed bit, and the
        // lane stays free for the scope and for a stop.
        std::error_code ec;
        d.Home(method8, h, std::chrono::milliseconds(0), ec);
        if (ec && ec.value() != ZARN_E_HOMING_TIMEOUT) throw zarn::Error(ec, "Home, drive " + std::to_string(d.id()));
      });
    }
    if (drivePath("POST", {"jog"})) {
      const int direction = int(Integer(body, "direction", -1, 1));
      if (direction == 0) Refuse(400, "\"direction\" must be 1 or -1");
      const uint32_t velocity = uint32_t(Integer(body, "velocity", 1, kU32));
      const uint32_t acceleration = uint32_t(Integer(body, "acceleration", 1, kU32));
      const uint64_t number = station.StartJog(direction, velocity, acceleration);
      return Ok({{"ok", true}, {"jog", number}, {"lease_ms", Station::kJogLease.count()}});
    }
    if (drivePath("POST", {"jog", "heartbeat"})) {
      const uint64_t number = uint64_t(Integer(body, "jog", 1, INT64_MAX));
      if (!station.RenewJog(number)) {
        const Json state = station.State();
        Refuse(409, "jog " + std::to_string(number) + " has ended" +
                        (state["jog"]["ended"].get<std::string>().empty()
                             ? std::string()
                             : ": " + state["jog"]["ended"].get<std::string>()));
      }
      return Ok({{"ok", true}});
    }
    if (drivePath("GET", {"alarms"}))
      return Ok(station.Command([&](zarn::Drive& d, const Link& l) { return AlarmsOf(d, l); }));
    if (drivePath("GET", {"backup"})) {
      const Json doc = station.Command([&](zarn::Drive&, const Link& l) {
        int missing = 0;
        return ReadBackup(l, GiveWay(station), &missing);
      });
      return ApiAnswer{200, doc.dump(2, ' ', false, Json::error_handler_t::replace) + "\n",
                       "zarn-drive-" + std::to_string(station.Id()) + "-backup.json"};
    }
    if (drivePath("POST", {"restore"})) {
      const Backup backup = ParseBackup(request.body, "the uploaded backup");
      station.Command([&](zarn::Drive&, const Link& l) { WriteBackup(l, backup, GiveWay(station)); });
      return Ok({{"ok", true},
                 {"format_version", backup.version},
                 {"parameters", backup.parameters.size()},
                 {"index_records", backup.records.size()}});
    }
    Refuse(404, "no such request: " + method + " " + request.path);
  } catch (const Refusal& r) {
    return ApiAnswer{r.status, Answer({{"error", r.error}}), ""};
  } catch (const zarn::Error& e) {
    const Refusal r = FromError(e);
    return ApiAnswer{r.status, Answer({{"error", r.error}}), ""};
  } catch (const Failure& f) {
    const Refusal r = FromFailure(f);
    return ApiAnswer{r.status, Answer({{"error", r.error}}), ""};
  }
}

}  // namespace console
}  // namespace zarnctl
