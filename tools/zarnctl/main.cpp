// zarnctl: try a drive from a terminal. Built on the library's public C API.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "drive.h"
#include "endpoints.h"
#include "json.h"
#include "plot.h"
#include "zarn/zarn.h"

namespace zarnctl {
namespace {

const char kUsage[] =
    "usage: zarnctl [connection] [--json] COMMAND [arguments]\n"
    "\n"
    "Connection (one of):\n"
    "  --serial DEVICE [--baud N]   a serial line (DEVICE: /dev/ttyUSB0, COM3, ...; default 115200)\n"
    "  --udp HOST:PORT              a drive over UDP\n"
    "  --sim                        a virtual drive started in this process\n"
    "  --drive N                    the drive id (default 1)\n"
    "\n"
    "Commands:\n"
    "  read ADDR TYPE               read object ADDR (index:subindex in hex, 0x6064:00)\n"
    "  write ADDR TYPE VALUE        write it; TYPE is u8 i8 u16 i16 u32 i32 str\n"
    "  info                         identity and monitors\n"
    "  enable | disable | estop | reset-alarm | stop\n"
    "  alarms                       alarm state and history\n"
    "  move abs|rel POS [--vel V --acc A --dec D] [--wait] [--timeout MS]\n"
    "  home --method M [--switch-speed S --zero-speed Z --acc A --offset O] [--wait]\n"
    "  io                           inputs, outputs, limit and home switches\n"
    "  monitor [--interval MS] [--count N]   live view until Ctrl+C\n"
    "  scan [--ids A-B] [--ports P-Q]       which drive ids answer\n"
    "  backup FILE | restore FILE   tunable parameters and index records as JSON\n"
    "  store                        save the parameters in the drive (takes 2 s)\n"
    "  record FILE --during 'move abs 10000' [--interval MS]   CSV and SVG of the motion\n"
    "  demo                         the whole job on built-in virtual drives\n"
    "\n"
    "--json prints machine-readable output. Errors print the library's message and code\n"
    "and exit with status 1 (2 for a usage error).\n";

// ------------------------------------------------------------------ output
bool g_json = false;

struct Field {
  std::string key, json, text;
};

class Report {
 public:
  void Add(const std::string& key, const std::string& jsonValue, const std::string& text) {
    fields_.push_back(Field{key, jsonValue, text});
  }
  void Number(const std::string& key, double v) {
    char t[64];
    snprintf(t, sizeof t, "%.15g", v);
    Add(key, t, t);
  }
  void Flag(const std::string& key, bool v) { Add(key, v ? "true" : "false", v ? "yes" : "no"); }
  void Text(const std::string& key, const std::string& v) { Add(key, Quote(v), v); }
  void Hex(const std::string& key, uint32_t v, int digits) {
    char t[32];
    snprintf(t, sizeof t, "0x%0*X", digits, v);
    Add(key, std::to_string(v), t);
  }
  void Print() const {
    if (g_json) {
      printf("{");
      for (size_t i = 0; i < fields_.size(); ++i)
        printf("%s%s: %s", i ? ", " : "", Quote(fields_[i].key).c_str(), fields_[i].json.c_str());
      printf("}\n");
      return;
    }
    size_t width = 0;
    for (const Field& f : fields_) width = std::max(width, f.key.size());
    for (const Field& f : fields_) printf("%-*s  %s\n", int(width + 1), (f.key + ":").c_str(), f.text.c_str());
  }

 private:
  std::vector<Field> fields_;
};

// The library offers the message of the last error only, not of any code:
// the failing call has just recorded its code, so the last error is that code.
std::string LibraryMessage(int32_t code) {
  char text[71] = "";
  if (ZARN_GetErrorCode(text) != code) return "error " + std::to_string(code);
  return text;
}

int Failure(const std::string& what, int32_t code) {
  const std::string message = LibraryMessage(code);
  if (g_json) {
    printf("{\"error\": %s, \"code\": %d, \"message\": %s}\n", Quote(what).c_str(), code, Quote(message).c_str());
  } else {
    fprintf(stderr, "zarnctl: %s: %s (code %d)\n", what.c_str(), message.c_str(), code);
  }
  return 1;
}

int UsageError(const std::string& what) {
  if (g_json)
    printf("{\"error\": %s, \"code\": null}\n", Quote(what).c_str());
  else
    fprintf(stderr, "zarnctl: %s\n(see zarnctl --help)\n", what.c_str());
  return 2;
}

// Runs a call; on failure reports it and makes the command fail.
#define CHECK(call, what)                              \
  do {                                                 \
    const int32_t code_ = (call);                      \
    if (code_ != ZARN_OK) return Failure(what, code_); \
  } while (0)

// ------------------------------------------------------------------ progress
class Progress {
 public:
  explicit Progress(const std::string& label) : label_(label), shown_(!g_json && isatty(STDOUT_FILENO)) {}
  ~Progress() { Done(); }
  void Update(double fraction, const std::string& note) {
    if (!shown_) return;
    fraction = std::max(0.0, std::min(1.0, fraction));
    const int width = 30, full = int(fraction * width + 0.5);
    printf("\r%-18s [%s%s] %3d%%  %-28s", label_.c_str(), std::string(size_t(full), '#').c_str(),
           std::string(size_t(width - full), '.').c_str(), int(fraction * 100 + 0.5), note.c_str());
    fflush(stdout);
    drawn_ = true;
  }
  void Done() {
    if (drawn_) printf("\n");
    drawn_ = false;
  }

 private:
  std::string label_;
  bool shown_;
  bool drawn_ = false;
};

// ------------------------------------------------------------------ connection
struct Options {
  std::string serial;
  uint32_t baud = 115200;
  std::string udpHost;
  uint16_t udpPort = 0;
  bool sim = false;
  int drive = 1;
};

class Connection {
 public:
  ~Connection() { Close(); }
  int32_t Open(const Options& o) {
    drive_ = o.drive;
    if (o.sim) {
      zarn::sim::DriveConfig config;
      config.id = uint8_t(o.drive);
      simDrive_ = std::make_unique<zarn::sim::Drive>(config);
      simUdp_ = std::make_unique<zarn::sim::UdpEndpoint>(*simDrive_, "127.0.0.1", 0);
      if (!simUdp_->Ok()) return ZARN_E_ETH_OPEN;
      open_ = ZARN_EDRVOpen(o.drive, "127.0.0.1", simUdp_->Port()) == ZARN_OK;
      return open_ ? ZARN_OK : ZARN_GetErrorCode(nullptr);
    }
    const int32_t code = !o.serial.empty() ? ZARN_SDRVOpen(o.drive, o.serial.c_str(), o.baud)
                                           : ZARN_EDRVOpen(o.drive, o.udpHost.c_str(), o.udpPort);
    open_ = code == ZARN_OK;
    return code;
  }
  void Close() {
    if (open_) ZARN_DriveClose(drive_);
    open_ = false;
  }
  uint8_t Drive() const { return uint8_t(drive_); }

 private:
  int drive_ = 1;
  bool open_ = false;
  std::unique_ptr<zarn::sim::Drive> simDrive_;
  std::unique_ptr<zarn::sim::UdpEndpoint> simUdp_;
};

// ------------------------------------------------------------------ arguments
bool ParseAddress(const std::string& text, uint16_t* index, uint8_t* sub) {
  unsigned i = 0, s = 0;
  int used = 0;
  const char* p = text.c_str();
  if (strncmp(p, "0x", 2) == 0 || strncmp(p, "0X", 2) == 0) p += 2;
  if (sscanf(p, "%x:%x%n", &i, &s, &used) != 2 || p[used] != '\0' || i > 0xFFFF || s > 0xFF) return false;
  *index = uint16_t(i);
  *sub = uint8_t(s);
  return true;
}

bool ParseInteger(const std::string& text, long long lo, long long hi, long long* out) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const long long v = strtoll(text.c_str(), &end, 0);
  if (*end != '\0' || errno != 0 || v < lo || v > hi) return false;
  *out = v;
  return true;
}

// Named options after the command ("--vel 1000"); flags have no value.
class Args {
 public:
  Args(std::vector<std::string> words) : words_(std::move(words)) {}
  size_t Count() const { return positional_.size(); }
  const std::string& At(size_t i) const { return positional_[i]; }
  bool Parse(const std::vector<std::string>& withValue, const std::vector<std::string>& flags, std::string* error) {
    for (size_t i = 0; i < words_.size(); ++i) {
      const std::string& w = words_[i];
      if (w.size() > 2 && w[0] == '-' && w[1] == '-') {
        if (std::find(flags.begin(), flags.end(), w) != flags.end()) {
          values_.emplace_back(w, "");
        } else if (std::find(withValue.begin(), withValue.end(), w) != withValue.end()) {
          if (i + 1 >= words_.size()) return *error = w + " needs a value", false;
          values_.emplace_back(w, words_[++i]);
        } else {
          return *error = "unknown option " + w, false;
        }
      } else {
        positional_.push_back(w);
      }
    }
    return true;
  }
  bool Has(const std::string& name) const {
    for (const auto& v : values_)
      if (v.first == name) return true;
    return false;
  }
  // The option's integer value, or fallback; false when present but bad.
  bool Integer(const std::string& name, long long lo, long long hi, long long fallback, long long* out) const {
    *out = fallback;
    for (const auto& v : values_)
      if (v.first == name) return ParseInteger(v.second, lo, hi, out);
    return true;
  }
  std::string Value(const std::string& name) const {
    for (const auto& v : values_)
      if (v.first == name) return v.second;
    return "";
  }

 private:
  std::vector<std::string> words_;
  std::vector<std::string> positional_;
  std::vector<std::pair<std::string, std::string>> values_;
};

std::vector<std::string> SplitWords(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  std::string w;
  while (in >> w) out.push_back(w);
  return out;
}

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

std::atomic<bool> g_interrupted{false};
void OnInterrupt(int) { g_interrupted = true; }

// ------------------------------------------------------------------ typed access
struct TypeInfo {
  const char* name;
  int width;  // 0 for text
  bool isSigned;
};
const TypeInfo kTypes[] = {{"u8", 1, false},  {"i8", 1, true},  {"u16", 2, false}, {"i16", 2, true},
                           {"u32", 4, false}, {"i32", 4, true}, {"str", 0, false}};

const TypeInfo* FindType(const std::string& name) {
  for (const TypeInfo& t : kTypes)
    if (name == t.name) return &t;
  return nullptr;
}

int32_t ReadTyped(uint8_t d, uint16_t index, uint8_t sub, const TypeInfo& t, long long* value, std::string* text) {
  int32_t code = ZARN_OK;
  switch (t.width * (t.isSigned ? -1 : 1)) {
    case 1: {
      uint8_t v = 0;
      code = ZARN_ReadByte(d, index, sub, &v);
      *value = v;
      break;
    }
    case -1: {
      int8_t v = 0;
      code = ZARN_ReadByteS(d, index, sub, &v);
      *value = v;
      break;
    }
    case 2: {
      uint16_t v = 0;
      code = ZARN_ReadWord(d, index, sub, &v);
      *value = v;
      break;
    }
    case -2: {
      int16_t v = 0;
      code = ZARN_ReadWordS(d, index, sub, &v);
      *value = v;
      break;
    }
    case 4: {
      uint32_t v = 0;
      code = ZARN_ReadDWord(d, index, sub, &v);
      *value = v;
      break;
    }
    case -4: {
      int32_t v = 0;
      code = ZARN_ReadDWordS(d, index, sub, &v);
      *value = v;
      break;
    }
    default: {
      char buffer[33] = "";
      code = ZARN_ReadString(d, index, sub, buffer);
      *text = buffer;
    }
  }
  return code;
}

int32_t WriteTyped(uint8_t d, uint16_t index, uint8_t sub, const TypeInfo& t, long long value,
                   const std::string& text) {
  switch (t.width * (t.isSigned ? -1 : 1)) {
    case 1: return ZARN_WriteByte(d, index, sub, uint8_t(value));
    case -1: return ZARN_WriteByteS(d, index, sub, int8_t(value));
    case 2: return ZARN_WriteWord(d, index, sub, uint16_t(value));
    case -2: return ZARN_WriteWordS(d, index, sub, int16_t(value));
    case 4: return ZARN_WriteDWord(d, index, sub, uint32_t(value));
    case -4: return ZARN_WriteDWordS(d, index, sub, int32_t(value));
    default: return ZARN_WriteString(d, index, sub, text.c_str());
  }
}

bool RangeOf(const TypeInfo& t, long long* lo, long long* hi) {
  if (t.width == 0) return false;
  const int bits = t.width * 8;
  *lo = t.isSigned ? -(1LL << (bits - 1)) : 0;
  *hi = t.isSigned ? (1LL << (bits - 1)) - 1 : (1LL << bits) - 1;
  return true;
}

// ------------------------------------------------------------------ commands
using Command = std::function<int(Connection&, Args&)>;

int CmdRead(Connection& c, Args& a) {
  uint16_t index;
  uint8_t sub;
  if (a.Count() != 2 || !ParseAddress(a.At(0), &index, &sub))
    return UsageError("read needs ADDR TYPE, e.g. read 0x6064:00 i32");
  const TypeInfo* t = FindType(a.At(1));
  if (!t) return UsageError("unknown type " + a.At(1) + " (u8 i8 u16 i16 u32 i32 str)");
  long long value = 0;
  std::string text;
  CHECK(ReadTyped(c.Drive(), index, sub, *t, &value, &text), "read " + a.At(0));
  Report r;
  r.Text("object", a.At(0));
  r.Text("type", t->name);
  if (t->width == 0)
    r.Text("value", text);
  else
    r.Number("value", double(value));
  r.Print();
  return 0;
}

int CmdWrite(Connection& c, Args& a) {
  uint16_t index;
  uint8_t sub;
  if (a.Count() != 3 || !ParseAddress(a.At(0), &index, &sub)) return UsageError("write needs ADDR TYPE VALUE");
  const TypeInfo* t = FindType(a.At(1));
  if (!t) return UsageError("unknown type " + a.At(1) + " (u8 i8 u16 i16 u32 i32 str)");
  long long value = 0, lo = 0, hi = 0;
  if (RangeOf(*t, &lo, &hi) && !ParseInteger(a.At(2), lo, hi, &value))
    return UsageError("value " + a.At(2) + " does not fit " + t->name);
  CHECK(WriteTyped(c.Drive(), index, sub, *t, value, a.At(2)), "write " + a.At(0));
  Report r;
  r.Text("object", a.At(0));
  r.Text("written", a.At(2));
  r.Print();
  return 0;
}

int CmdInfo(Connection& c, Args&) {
  const uint8_t d = c.Drive();
  uint16_t id = 0, dc = 0, warning = 0, multi = 0, state = 0;
  int16_t temp = 0, overload = 0, torque = 0;
  int32_t pos = 0, vel = 0;
  uint32_t single = 0;
  int enabled = 0, alarm = 0;
  uint16_t alarmCode = 0;
  CHECK(ZARN_ReadWord(d, 0x2003, 0, &id), "identity");
  CHECK(ZARN_ActualPosition(d, &pos), "position");
  CHECK(ZARN_ActualVelocity(d, &vel), "velocity");
  CHECK(ZARN_ActualTorque(d, &torque), "torque");
  CHECK(ZARN_DCLinkVoltage(d, &dc), "DC-link voltage");
  CHECK(ZARN_DriveTemp(d, &temp), "temperature");
  CHECK(ZARN_AccumOverload(d, &overload), "overload");
  CHECK(ZARN_WarningCode(d, &warning), "warning code");
  CHECK(ZARN_SingleTurnData(d, &single), "single-turn data");
  CHECK(ZARN_MultiTurnData(d, &multi), "multi-turn data");
  CHECK(ZARN_IsEnabled(d, &enabled), "servo state");
  CHECK(ZARN_IsAlarm(d, &alarm, &alarmCode), "alarm state");
  CHECK(ZARN_ReadWord(d, 0x2121, 0, &state), "drive state output");
  int32_t version = 0;
  ZARN_GetZarnDllVersion(&version);
  Report r;
  r.Number("drive", d);
  r.Hex("identification", id, 4);
  r.Hex("library_version", uint32_t(version), 8);
  r.Number("position", pos);
  r.Number("velocity", vel);
  r.Number("torque", torque);
  r.Number("dc_link_voltage", dc);
  r.Number("temperature", temp);
  r.Number("overload", overload);
  r.Hex("warning_code", warning, 4);
  r.Number("single_turn", single);
  r.Number("multi_turn", multi);
  r.Flag("enabled", enabled);
  r.Flag("alarm", alarm);
  r.Hex("error_code", alarmCode, 4);
  r.Hex("state_output", state, 4);
  r.Print();
  return 0;
}

int Simple(int32_t (*call)(uint8_t), const char* what, Connection& c, Args& a) {
  if (a.Count() != 0) return UsageError(std::string(what) + " takes no arguments");
  CHECK(call(c.Drive()), what);
  Report r;
  r.Text("done", what);
  r.Print();
  return 0;
}

int CmdAlarms(Connection& c, Args&) {
  int alarm = 0;
  uint16_t code = 0;
  CHECK(ZARN_IsAlarm(c.Drive(), &alarm, &code), "alarm state");
  std::string json = "[", text;
  for (uint8_t n = 1; n <= 16; ++n) {
    char entry[33] = "";
    if (ZARN_GetAlarmHistory(c.Drive(), n, entry) != ZARN_OK || entry[0] == '\0') break;
    json += std::string(n > 1 ? ", " : "") + Quote(entry);
    text += std::string(n > 1 ? "; " : "") + entry;
  }
  json += "]";
  Report r;
  r.Flag("alarm", alarm);
  r.Hex("error_code", code, 4);
  r.Add("history", json, text.empty() ? "(empty)" : text);
  r.Print();
  return 0;
}

// Polls until the drive is in position or the time is up; shows the way.
int WaitForMove(uint8_t d, int32_t start, int32_t target, long long timeoutMs, bool* arrived,
                const std::function<void()>& sample = nullptr) {
  Progress bar("moving");
  const auto t0 = std::chrono::steady_clock::now();
  *arrived = false;
  while (Seconds(t0) * 1000 < timeoutMs && !g_interrupted) {
    int32_t pos = 0;
    int inPosition = 0;
    CHECK(ZARN_ActualPosition(d, &pos), "position");
    CHECK(ZARN_IsInPosition(d, &inPosition), "in-position state");
    if (sample) sample();
    const double span = std::fabs(double(target) - start);
    char note[48];
    snprintf(note, sizeof note, "position %d", pos);
    bar.Update(span > 0 ? std::fabs(double(pos) - start) / span : 1.0, note);
    if (inPosition && pos == target) {
      *arrived = true;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(sample ? 10 : 50));
  }
  return 0;
}

int StartMove(Connection& c, Args& a, int32_t* start, int32_t* target) {
  if (a.Count() != 2 || (a.At(0) != "abs" && a.At(0) != "rel")) return UsageError("move needs abs|rel POS");
  long long pos = 0, vel = 0, acc = 0, dec = 0;
  if (!ParseInteger(a.At(1), INT32_MIN, INT32_MAX, &pos)) return UsageError("bad position " + a.At(1));
  if (!a.Integer("--vel", 1, UINT32_MAX, 0, &vel) || !a.Integer("--acc", 1, UINT32_MAX, 0, &acc) ||
      !a.Integer("--dec", 1, UINT32_MAX, 0, &dec))
    return UsageError("--vel, --acc and --dec take positive numbers");
  const uint8_t d = c.Drive();
  const bool relative = a.At(0) == "rel";
  CHECK(ZARN_ActualPosition(d, start), "position");
  *target = relative ? int32_t(*start + pos) : int32_t(pos);
  const bool profile = a.Has("--vel") || a.Has("--acc") || a.Has("--dec");
  if (profile) {
    // Unset profile values keep what the drive holds.
    uint32_t v = 0, ac = 0, de = 0;
    CHECK(ZARN_ReadDWord(d, 0x6081, 0, &v), "profile velocity");
    CHECK(ZARN_ReadDWord(d, 0x6083, 0, &ac), "profile acceleration");
    CHECK(ZARN_ReadDWord(d, 0x6084, 0, &de), "profile deceleration");
    if (vel) v = uint32_t(vel);
    if (acc) ac = uint32_t(acc);
    if (dec) de = uint32_t(dec);
    CHECK(relative ? ZARN_MoveRelative(d, int32_t(pos), v, ac, de) : ZARN_MoveAbsolute(d, int32_t(pos), v, ac, de),
          "move");
  } else {
    CHECK(relative ? ZARN_MoveRel(d, int32_t(pos)) : ZARN_MoveAbs(d, int32_t(pos)), "move");
  }
  return 0;
}

int CmdMove(Connection& c, Args& a) {
  int32_t start = 0, target = 0;
  long long timeout = 0;
  if (!a.Integer("--timeout", 1, 3600000, 30000, &timeout)) return UsageError("--timeout takes milliseconds");
  if (int r = StartMove(c, a, &start, &target)) return r;
  Report rep;
  rep.Number("target", target);
  if (a.Has("--wait")) {
    bool arrived = false;
    if (int r = WaitForMove(c.Drive(), start, target, timeout, &arrived)) return r;
    int32_t pos = 0;
    CHECK(ZARN_ActualPosition(c.Drive(), &pos), "position");
    rep.Number("position", pos);
    rep.Flag("in_position", arrived);
    rep.Print();
    if (!arrived) {
      if (!g_json) fprintf(stderr, "zarnctl: the move did not end in position within %lld ms\n", timeout);
      return 1;
    }
    return 0;
  }
  rep.Text("started", a.At(0));
  rep.Print();
  return 0;
}

int StartHoming(Connection& c, Args& a) {
  long long method = 0, sw = 0, zero = 0, acc = 0, offset = 0;
  if (!a.Has("--method") || !a.Integer("--method", -128, 127, 0, &method)) return UsageError("home needs --method M");
  if (!a.Integer("--switch-speed", INT32_MIN, INT32_MAX, 50000, &sw) ||
      !a.Integer("--zero-speed", INT32_MIN, INT32_MAX, 10000, &zero) ||
      !a.Integer("--acc", 0, UINT32_MAX, 1000000, &acc) || !a.Integer("--offset", -32768, 32767, 0, &offset))
    return UsageError("bad homing option");
  CHECK(ZARN_Homing(c.Drive(), char(method), int32_t(sw), int32_t(zero), uint32_t(acc), int16_t(offset)), "homing");
  return 0;
}

int WaitForHome(uint8_t d, long long timeoutMs, bool* homed) {
  Progress bar("homing");
  const auto t0 = std::chrono::steady_clock::now();
  *homed = false;
  while (Seconds(t0) * 1000 < timeoutMs && !g_interrupted) {
    int home = 0;
    int32_t pos = 0;
    CHECK(ZARN_IsHome(d, &home), "homing state");
    CHECK(ZARN_ActualPosition(d, &pos), "position");
    char note[48];
    snprintf(note, sizeof note, "position %d", pos);
    bar.Update(home ? 1.0 : std::min(0.95, Seconds(t0) * 1000 / double(timeoutMs)), note);
    if (home) {
      *homed = true;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return 0;
}

int CmdHome(Connection& c, Args& a) {
  long long timeout = 0;
  if (!a.Integer("--timeout", 1, 3600000, 30000, &timeout)) return UsageError("--timeout takes milliseconds");
  if (int r = StartHoming(c, a)) return r;
  Report rep;
  if (a.Has("--wait")) {
    bool homed = false;
    if (int r = WaitForHome(c.Drive(), timeout, &homed)) return r;
    int32_t pos = 0;
    CHECK(ZARN_ActualPosition(c.Drive(), &pos), "position");
    rep.Flag("homed", homed);
    rep.Number("position", pos);
    rep.Print();
    return homed ? 0 : 1;
  }
  rep.Text("started", "homing");
  rep.Print();
  return 0;
}

int CmdIo(Connection& c, Args&) {
  const uint8_t d = c.Drive();
  uint32_t in = 0, out = 0;
  int neg = 0, pos = 0, home = 0, torque = 0;
  CHECK(ZARN_GetDigitalInputs(d, &in), "digital inputs");
  CHECK(ZARN_GetDigitalOutputs(d, &out), "digital outputs");
  CHECK(ZARN_IsNegativeLimit(d, &neg), "negative limit");
  CHECK(ZARN_IsPositiveLimit(d, &pos), "positive limit");
  CHECK(ZARN_IsHomeSensor(d, &home), "home sensor");
  CHECK(ZARN_IsTorqueLimit(d, &torque), "torque limit");
  Report r;
  r.Hex("inputs", in, 8);
  r.Hex("outputs", out, 8);
  r.Flag("negative_limit", neg);
  r.Flag("positive_limit", pos);
  r.Flag("home_sensor", home);
  r.Flag("torque_limit", torque);
  r.Print();
  return 0;
}

int CmdMonitor(Connection& c, Args& a) {
  long long interval = 0, count = 0;
  if (!a.Integer("--interval", 10, 60000, 200, &interval) || !a.Integer("--count", 1, 1000000000, 0, &count))
    return UsageError("--interval takes milliseconds, --count a number of samples");
  const bool redraw = !g_json && isatty(STDOUT_FILENO);
  for (long long n = 0; !g_interrupted && (count == 0 || n < count); ++n) {
    const uint8_t d = c.Drive();
    int32_t pos = 0, vel = 0;
    int16_t torque = 0;
    uint16_t state = 0, control = 0;
    CHECK(ZARN_ActualPosition(d, &pos), "position");
    CHECK(ZARN_ActualVelocity(d, &vel), "velocity");
    CHECK(ZARN_ActualTorque(d, &torque), "torque");
    CHECK(ZARN_ReadWord(d, 0x2121, 0, &state), "drive state output");
    CHECK(ZARN_ReadWord(d, 0x211F, 0, &control), "drive control input 1");
    const bool enabled = control & 0x1000, alarm = state & 0x0002, inPos = state & 0x0010, inVel = state & 0x0080,
               tl = state & 0x0020;
    if (g_json) {
      printf(
          "{\"position\": %d, \"velocity\": %d, \"torque\": %d, \"enabled\": %s, \"alarm\": %s, "
          "\"in_position\": %s, \"in_velocity\": %s, \"torque_limit\": %s}\n",
          pos, vel, torque, enabled ? "true" : "false", alarm ? "true" : "false", inPos ? "true" : "false",
          inVel ? "true" : "false", tl ? "true" : "false");
    } else {
      if (redraw && n > 0) printf("\033[3A");
      printf("position %12d   velocity %10d   torque %6d\033[K\n", pos, vel, torque);
      printf("enabled %-3s  alarm %-3s  in-position %-3s  in-velocity %-3s  torque-limit %-3s\033[K\n",
             enabled ? "yes" : "no", alarm ? "YES" : "no", inPos ? "yes" : "no", inVel ? "yes" : "no",
             tl ? "yes" : "no");
      printf("%s\033[K\n", redraw ? "(Ctrl+C to stop)" : "");
    }
    fflush(stdout);
    if (count == 0 || n + 1 < count) std::this_thread::sleep_for(std::chrono::milliseconds(interval));
  }
  return 0;
}

bool ParseRange(const std::string& text, long long lo, long long hi, long long* a, long long* b) {
  const size_t dash = text.find('-');
  if (dash == std::string::npos) return ParseInteger(text, lo, hi, a) && ((*b = *a), true);
  return ParseInteger(text.substr(0, dash), lo, hi, a) && ParseInteger(text.substr(dash + 1), lo, hi, b) && *a <= *b;
}

int CmdScan(const Options& o, Args& a) {
  long long first = 1, last = 16;
  if (a.Has("--ids") && !ParseRange(a.Value("--ids"), 0, 255, &first, &last)) return UsageError("--ids takes A-B");
  std::vector<std::pair<int, std::string>> found;
  if (!o.udpHost.empty() && a.Has("--ports")) {
    long long p0 = 0, p1 = 0;
    if (!ParseRange(a.Value("--ports"), 1, 65535, &p0, &p1) || p1 - p0 > 31)
      return UsageError("--ports takes P-Q (at most 32)");
    for (long long p = p0; p <= p1; ++p) {
      const int id = int(p - p0);
      if (ZARN_EDRVOpen(id, o.udpHost.c_str(), uint16_t(p)) != ZARN_OK) continue;
      int32_t online = 0;
      ZARN_IsSlaveOnline(uint8_t(id), &online);
      if (online) found.emplace_back(int(p), o.udpHost + ":" + std::to_string(p));
      ZARN_DriveClose(id);
    }
  } else if (!o.serial.empty()) {
    Progress bar("scanning");
    for (long long id = first; id <= last; ++id) {
      bar.Update(double(id - first) / double(last - first + 1), "drive " + std::to_string(id));
      if (ZARN_SDRVOpen(int(id), o.serial.c_str(), o.baud) != ZARN_OK) continue;
      int32_t online = 0;
      ZARN_IsSlaveOnline(uint8_t(id), &online);
      if (online) found.emplace_back(int(id), o.serial);
    }
    bar.Done();
    for (long long id = first; id <= last; ++id) ZARN_DriveClose(int(id));
  } else {
    return UsageError("scan needs --serial DEVICE, or --udp HOST:PORT with --ports P-Q");
  }
  std::string json = "[", text;
  for (size_t i = 0; i < found.size(); ++i) {
    json += std::string(i ? ", " : "") + std::to_string(found[i].first);
    text += std::string(i ? ", " : "") + std::to_string(found[i].first);
  }
  Report r;
  r.Add(a.Has("--ports") ? "ports" : "drives", json + "]", text.empty() ? "(none answered)" : text);
  r.Print();
  return 0;
}

// Tunable parameters kept by backup and restore.
struct Tunable {
  const char* name;
  uint16_t index;
  uint8_t sub;
  const char* type;
};
const Tunable kTunables[] = {
    {"inertia_ratio", 0x2100, 0, "u16"},
    {"position_gain_kp", 0x2101, 0, "u16"},
    {"velocity_gain_kp", 0x2102, 0, "u16"},
    {"velocity_gain_kit", 0x2103, 0, "u16"},
    {"feed_forward_gain", 0x210C, 0, "u16"},
    {"feed_forward_filter", 0x210D, 0, "u16"},
    {"current_gain", 0x2514, 0, "u16"},
    {"velocity_limit_select", 0x230D, 0, "u16"},
    {"velocity_limit", 0x230E, 0, "u16"},
    {"home_torque_limit_1", 0x2409, 0, "u16"},
    {"home_torque_limit_2", 0x240A, 0, "u16"},
    {"control_mode", 0x3000, 0, "u16"},
    {"operation_mode", 0x6060, 0, "i8"},
    {"position_window", 0x6067, 0, "u32"},
    {"position_window_time", 0x6068, 0, "u16"},
    {"velocity_window", 0x606D, 0, "u32"},
    {"velocity_window_time", 0x606E, 0, "u16"},
    {"home_offset", 0x607C, 0, "i32"},
    {"max_profile_velocity", 0x607F, 0, "u32"},
    {"profile_velocity", 0x6081, 0, "u32"},
    {"profile_acceleration", 0x6083, 0, "u32"},
    {"profile_deceleration", 0x6084, 0, "u32"},
    {"quick_stop_deceleration", 0x6085, 0, "u32"},
    {"torque_slope", 0x6087, 0, "u32"},
    {"gear_motor", 0x6091, 1, "u32"},
    {"gear_shaft", 0x6091, 2, "u32"},
    {"homing_method", 0x6098, 0, "i8"},
    {"homing_switch_speed", 0x6099, 1, "i32"},
    {"homing_zero_speed", 0x6099, 2, "i32"},
    {"homing_acceleration", 0x609A, 0, "u32"},
};
constexpr int kBackupIndexRecords = 16;

int CmdBackup(Connection& c, Args& a) {
  if (a.Count() != 1) return UsageError("backup needs FILE");
  const uint8_t d = c.Drive();
  std::string out = "{\n  \"format\": \"zarn-backup-1\",\n  \"parameters\": {";
  int saved = 0, skipped = 0;
  for (const Tunable& t : kTunables) {
    long long value = 0;
    std::string text;
    const int32_t code = ReadTyped(d, t.index, t.sub, *FindType(t.type), &value, &text);
    if (code >= ZARN_E_REPLY_UNKNOWN && code <= ZARN_E_REPLY_FILE_CHECK) {
      ++skipped;  // the drive has no such object
      continue;
    }
    if (code != ZARN_OK) return Failure(std::string("backup of ") + t.name, code);
    char line[160];
    snprintf(line, sizeof line, "%s\n    \"%s\": {\"object\": \"0x%04X:%02X\", \"type\": \"%s\", \"value\": %lld}",
             saved ? "," : "", t.name, t.index, t.sub, t.type, value);
    out += line;
    ++saved;
  }
  out += "\n  },\n  \"index_records\": [";
  int records = 0;
  for (int n = 0; n < kBackupIndexRecords; ++n) {
    IndexParameter r;
    memset(&r, 0, sizeof r);
    const int32_t code = ZARN_ReadIndexParameter(d, n, &r);
    if (code >= ZARN_E_REPLY_UNKNOWN && code <= ZARN_E_REPLY_FILE_CHECK) break;
    if (code != ZARN_OK) return Failure("backup of index record " + std::to_string(n), code);
    const long long v[11] = {r.sub1, r.sub2, r.sub3, r.sub4, r.sub5, r.sub6, r.sub7, r.sub8, r.sub9, r.sub10, r.sub11};
    out += std::string(records ? "," : "") + "\n    {\"number\": " + std::to_string(n) + ", \"values\": [";
    for (int i = 0; i < 11; ++i) out += (i ? ", " : "") + std::to_string(v[i]);
    out += "]}";
    ++records;
  }
  out += "\n  ]\n}\n";
  std::ofstream f(a.At(0), std::ios::trunc);
  if (!(f << out) || !f.flush()) return UsageError("cannot write " + a.At(0));
  Report r;
  r.Text("file", a.At(0));
  r.Number("parameters", saved);
  r.Number("index_records", records);
  r.Number("not_on_drive", skipped);
  r.Print();
  return 0;
}

int CmdRestore(Connection& c, Args& a) {
  if (a.Count() != 1) return UsageError("restore needs FILE");
  std::ifstream f(a.At(0));
  if (!f) return UsageError("cannot read " + a.At(0));
  std::stringstream content;
  content << f.rdbuf();
  Json doc;
  std::string error;
  if (!ParseJson(content.str(), &doc, &error)) return UsageError(a.At(0) + ": " + error);
  const Json* format = doc.Field("format");
  if (!format || format->text != "zarn-backup-1") return UsageError(a.At(0) + " is no zarnctl backup");
  const uint8_t d = c.Drive();
  int written = 0, records = 0;
  if (const Json* params = doc.Field("parameters")) {
    for (const auto& p : params->fields) {
      const Json* object = p.second.Field("object");
      const Json* type = p.second.Field("type");
      const Json* value = p.second.Field("value");
      uint16_t index;
      uint8_t sub;
      const TypeInfo* t = type ? FindType(type->text) : nullptr;
      long long lo = 0, hi = 0;
      if (!object || !value || !t || !ParseAddress(object->text, &index, &sub) || !RangeOf(*t, &lo, &hi) ||
          value->kind != Json::kNumber || value->number < double(lo) || value->number > double(hi))
        return UsageError("bad entry " + p.first + " in " + a.At(0));
      CHECK(WriteTyped(d, index, sub, *t, (long long)value->number, ""), "restore of " + p.first);
      ++written;
    }
  }
  if (const Json* list = doc.Field("index_records")) {
    for (const Json& rec : list->items) {
      const Json* number = rec.Field("number");
      const Json* values = rec.Field("values");
      if (!number || !values || values->items.size() != 11) return UsageError("bad index record in " + a.At(0));
      IndexParameter r;
      memset(&r, 0, sizeof r);
      const auto& v = values->items;
      r.sub1 = uint16_t(v[0].number);
      r.sub2 = int32_t(v[1].number);
      r.sub3 = int32_t(v[2].number);
      r.sub4 = int32_t(v[3].number);
      r.sub5 = int32_t(v[4].number);
      r.sub6 = int32_t(v[5].number);
      r.sub7 = int32_t(v[6].number);
      r.sub8 = uint16_t(v[7].number);
      r.sub9 = uint16_t(v[8].number);
      r.sub10 = uint16_t(v[9].number);
      r.sub11 = uint16_t(v[10].number);
      CHECK(ZARN_WriteIndexParameter(d, int32_t(number->number), &r), "restore of index record");
      ++records;
    }
  }
  Report r;
  r.Text("file", a.At(0));
  r.Number("parameters", written);
  r.Number("index_records", records);
  r.Print();
  return 0;
}

int CmdStore(Connection& c, Args&) {
  std::atomic<bool> finished{false};
  int32_t code = ZARN_OK;
  std::thread worker([&] {
    code = ZARN_StoreParameter(c.Drive());
    finished = true;
  });
  Progress bar("storing");
  const auto t0 = std::chrono::steady_clock::now();
  while (!finished) {
    bar.Update(std::min(0.99, Seconds(t0) / 2.1), "");
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  worker.join();
  bar.Update(1.0, "");
  bar.Done();
  CHECK(code, "store");
  Report r;
  r.Text("done", "store");
  r.Print();
  return 0;
}

// Samples position and velocity while a move or homing runs.
int CmdRecord(Connection& c, Args& a) {
  if (a.Count() != 1 || !a.Has("--during")) return UsageError("record needs FILE --during 'move abs 10000'");
  long long interval = 0, timeout = 0;
  if (!a.Integer("--interval", 1, 10000, 10, &interval) || !a.Integer("--timeout", 1, 3600000, 30000, &timeout))
    return UsageError("bad --interval or --timeout");
  std::vector<std::string> words = SplitWords(a.Value("--during"));
  if (words.empty() || (words[0] != "move" && words[0] != "home"))
    return UsageError("--during takes a move or home command");
  const std::string kind = words[0];
  words.erase(words.begin());
  Args inner(words);
  std::string error;
  if (!inner.Parse({"--vel", "--acc", "--dec", "--method", "--switch-speed", "--zero-speed", "--offset"}, {}, &error))
    return UsageError(error);
  const uint8_t d = c.Drive();
  std::vector<Sample> samples;
  const auto t0 = std::chrono::steady_clock::now();
  auto sample = [&]() -> int32_t {
    Sample s{Seconds(t0), 0, 0};
    int32_t code = ZARN_ActualPosition(d, &s.position);
    if (code == ZARN_OK) code = ZARN_ActualVelocity(d, &s.velocity);
    if (code == ZARN_OK) samples.push_back(s);
    return code;
  };
  for (int i = 0; i < 5; ++i) {
    CHECK(sample(), "sample");
    std::this_thread::sleep_for(std::chrono::milliseconds(interval));
  }
  int32_t start = 0, target = 0;
  if (kind == "move") {
    if (int r = StartMove(c, inner, &start, &target)) return r;
  } else if (int r = StartHoming(c, inner)) {
    return r;
  }
  Progress bar("recording");
  int quiet = 0;
  while (Seconds(t0) * 1000 < timeout && !g_interrupted) {
    std::this_thread::sleep_for(std::chrono::milliseconds(interval));
    CHECK(sample(), "sample");
    int ended = 0;
    CHECK(kind == "move" ? ZARN_IsInPosition(d, &ended) : ZARN_IsHome(d, &ended), "state");
    char note[48];
    snprintf(note, sizeof note, "%zu samples", samples.size());
    bar.Update(ended ? 1.0 : std::min(0.95, Seconds(t0) * 1000 / double(timeout)), note);
    if (ended && samples.back().velocity == 0 && ++quiet >= 5) break;  // a few samples at rest
  }
  bar.Done();
  std::string base = a.At(0);
  const size_t dot = base.rfind('.');
  if (dot != std::string::npos && base.substr(dot) == ".csv") base = base.substr(0, dot);
  const std::string csv = base + ".csv", svg = base + ".svg";
  if (!WriteCsv(csv, samples) || !WriteSvg(svg, samples, "zarnctl record: " + a.Value("--during")))
    return UsageError("cannot write " + csv + " or " + svg);
  Report r;
  r.Text("csv", csv);
  r.Text("svg", svg);
  r.Number("samples", double(samples.size()));
  r.Number("position", samples.back().position);
  r.Print();
  return 0;
}

// ------------------------------------------------------------------ demo
int Demo() {
  using zarn::sim::Drive;
  using zarn::sim::DriveConfig;
  printf("zarn demo: virtual drives, one over UDP and one on a serial pseudo-terminal\n\n");
  DriveConfig first;
  first.id = 1;
  first.homeSwitchPosition = -3000;
  first.positiveLimit = 60000;
  DriveConfig second = first;
  second.id = 2;
  Drive udpDrive(first), serialDrive(second);
  zarn::sim::UdpEndpoint udp(udpDrive, "127.0.0.1", 0);
  zarn::sim::SerialEndpoint line({&serialDrive}, "", 115200);
  if (!udp.Ok() || !line.Ok()) {
    fprintf(stderr, "zarnctl demo: cannot start the virtual drives: %s%s\n", udp.Error().c_str(), line.Error().c_str());
    return 1;
  }
  CHECK(ZARN_EDRVOpen(1, "127.0.0.1", udp.Port()), "open drive 1 over UDP");
  printf("drive 1: UDP 127.0.0.1:%u\n", udp.Port());
  CHECK(ZARN_SDRVOpen(2, line.Path().c_str(), 115200), "open drive 2 on the serial line");
  printf("drive 2: serial %s at 115200 bit/s\n\n", line.Path().c_str());

  std::vector<Sample> samples;
  const auto t0 = std::chrono::steady_clock::now();
  int32_t finalPosition[3] = {0, 0, 0};
  for (uint8_t d : {uint8_t(1), uint8_t(2)}) {
    printf("-- drive %u\n", d);
    CHECK(ZARN_Enable(d), "enable");
    printf("servo enabled\n");
    CHECK(ZARN_Homing(d, 1, 200000, 20000, 4000000, 0), "homing");
    bool homed = false;
    if (int r = WaitForHome(d, 10000, &homed)) return r;
    int32_t pos = 0;
    CHECK(ZARN_ActualPosition(d, &pos), "position");
    printf("homed on the home sensor: position %d\n", pos);
    // Drive 1's motion is plotted, also while drive 2 moves.
    auto record = [&] {
      Sample s{Seconds(t0), 0, 0};
      if (ZARN_ActualPosition(1, &s.position) == ZARN_OK && ZARN_ActualVelocity(1, &s.velocity) == ZARN_OK)
        samples.push_back(s);
    };
    bool arrived = false;
    CHECK(ZARN_MoveAbsolute(d, 40000, 100000, 400000, 400000), "absolute move");
    if (int r = WaitForMove(d, pos, 40000, 10000, &arrived, record)) return r;
    CHECK(ZARN_ActualPosition(d, &pos), "position");
    printf("absolute move to 40000: position %d%s\n", pos, arrived ? ", in position" : " (not in position)");
    CHECK(ZARN_MoveRelative(d, -15000, 150000, 1000000, 600000), "relative move");
    if (int r = WaitForMove(d, pos, pos - 15000, 10000, &arrived, record)) return r;
    CHECK(ZARN_ActualPosition(d, &pos), "position");
    printf("relative move by -15000: position %d%s\n", pos, arrived ? ", in position" : " (not in position)");
    finalPosition[d] = pos;
  }

  printf("\n-- an alarm on drive 1: a move past the positive limit switch at 60000\n");
  CHECK(ZARN_MoveAbs(1, 80000), "move into the limit");
  int alarm = 0;
  uint16_t code = 0;
  for (int i = 0; i < 200 && !alarm; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    Sample s{Seconds(t0), 0, 0};
    if (ZARN_ActualPosition(1, &s.position) == ZARN_OK && ZARN_ActualVelocity(1, &s.velocity) == ZARN_OK)
      samples.push_back(s);
    CHECK(ZARN_IsAlarm(1, &alarm, &code), "alarm state");
  }
  char history[33] = "";
  CHECK(ZARN_GetAlarmHistory(1, 1, history), "alarm history");
  printf("alarm %s, code 0x%04X, history: %s\n", alarm ? "raised" : "not raised", code, history);
  CHECK(ZARN_ResetAlarm(1), "alarm reset");
  CHECK(ZARN_IsAlarm(1, &alarm, &code), "alarm state");
  printf("after the alarm reset: alarm %s\n", alarm ? "still raised" : "cleared");
  int32_t pos = 0;
  CHECK(ZARN_ActualPosition(1, &pos), "position");
  bool arrived = false;
  CHECK(ZARN_MoveAbs(1, 0), "move back");
  if (int r = WaitForMove(1, pos, 0, 10000, &arrived, [&] {
        Sample s{Seconds(t0), 0, 0};
        if (ZARN_ActualPosition(1, &s.position) == ZARN_OK && ZARN_ActualVelocity(1, &s.velocity) == ZARN_OK)
          samples.push_back(s);
      }))
    return r;
  CHECK(ZARN_ActualPosition(1, &pos), "position");
  printf("moved back to %d\n", pos);
  finalPosition[1] = pos;
  const bool recovered = !alarm && arrived;

  const std::string plot = "zarn-demo.svg";
  const bool plotted =
      WriteSvg(plot, samples, "zarn demo: drive 1 over UDP (home, absolute, relative, limit alarm, back)");
  ZARN_DriveClose(1);
  ZARN_DriveClose(2);
  printf("\nsummary\n");
  printf("  drive 1 (UDP):    homed, moved, final position %d\n", finalPosition[1]);
  printf("  drive 2 (serial): homed, moved, final position %d\n", finalPosition[2]);
  printf("  alarm:            raised at the limit, reset, %s\n", recovered ? "recovered" : "NOT recovered");
  printf("  plot:             %s (%zu samples)\n", plotted ? plot.c_str() : "not written", samples.size());
  return recovered && plotted && finalPosition[2] == 25000 ? 0 : 1;
}

}  // namespace
}  // namespace zarnctl

int main(int argc, char** argv) {
  using namespace zarnctl;
  Options o;
  std::vector<std::string> rest;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&]() -> std::string { return i + 1 < argc ? argv[++i] : ""; };
    if (!rest.empty()) {
      rest.push_back(a);
    } else if (a == "--help" || a == "-h") {
      fputs(kUsage, stdout);
      return 0;
    } else if (a == "--json") {
      g_json = true;
    } else if (a == "--sim") {
      o.sim = true;
    } else if (a == "--serial") {
      o.serial = value();
    } else if (a == "--baud") {
      long long b = 0;
      if (!ParseInteger(value(), 1, 4000000, &b)) return UsageError("--baud takes a speed");
      o.baud = uint32_t(b);
    } else if (a == "--udp") {
      const std::string v = value();
      const size_t colon = v.rfind(':');
      long long port = 0;
      if (colon == std::string::npos || !ParseInteger(v.substr(colon + 1), 1, 65535, &port))
        return UsageError("--udp takes HOST:PORT");
      o.udpHost = v.substr(0, colon);
      o.udpPort = uint16_t(port);
    } else if (a == "--drive") {
      long long d = 0;
      if (!ParseInteger(value(), 0, 255, &d)) return UsageError("--drive takes an id from 0 to 255");
      o.drive = int(d);
    } else if (a.size() > 1 && a[0] == '-') {
      return UsageError("unknown option " + a);
    } else {
      rest.push_back(a);
    }
  }
  // Options of the command may also come after it.
  std::vector<std::string> words;
  for (size_t i = 0; i < rest.size(); ++i) {
    if (rest[i] == "--json")
      g_json = true;
    else
      words.push_back(rest[i]);
  }
  if (words.empty()) {
    fputs(kUsage, stderr);
    return 2;
  }
  const std::string command = words[0];
  words.erase(words.begin());
  struct sigaction sa {};
  sa.sa_handler = OnInterrupt;
  sigaction(SIGINT, &sa, nullptr);

  if (command == "demo") return Demo();

  Args args(words);
  std::string error;
  if (!args.Parse({"--vel", "--acc", "--dec", "--timeout", "--method", "--switch-speed", "--zero-speed", "--offset",
                   "--interval", "--count", "--ids", "--ports", "--during"},
                  {"--wait"}, &error))
    return UsageError(error);
  const int connections = (o.sim ? 1 : 0) + (!o.serial.empty() ? 1 : 0) + (!o.udpHost.empty() ? 1 : 0);
  if (connections != 1) return UsageError("give one of --serial DEVICE, --udp HOST:PORT or --sim");
  if (command == "scan") return CmdScan(o, args);

  const struct {
    const char* name;
    Command run;
  } commands[] = {
      {"read", CmdRead},
      {"write", CmdWrite},
      {"info", CmdInfo},
      {"enable", [](Connection& c, Args& a) { return Simple(ZARN_Enable, "enable", c, a); }},
      {"disable", [](Connection& c, Args& a) { return Simple(ZARN_Disable, "disable", c, a); }},
      {"estop", [](Connection& c, Args& a) { return Simple(ZARN_EmergencyStop, "estop", c, a); }},
      {"reset-alarm", [](Connection& c, Args& a) { return Simple(ZARN_ResetAlarm, "reset-alarm", c, a); }},
      {"stop", [](Connection& c, Args& a) { return Simple(ZARN_Stop, "stop", c, a); }},
      {"alarms", CmdAlarms},
      {"move", CmdMove},
      {"home", CmdHome},
      {"io", CmdIo},
      {"monitor", CmdMonitor},
      {"backup", CmdBackup},
      {"restore", CmdRestore},
      {"store", CmdStore},
      {"record", CmdRecord},
  };
  for (const auto& cmd : commands) {
    if (command != cmd.name) continue;
    Connection connection;
    const int32_t code = connection.Open(o);
    if (code != ZARN_OK) return Failure("cannot open drive " + std::to_string(o.drive), code);
    return cmd.run(connection, args);
  }
  return UsageError("unknown command " + command);
}
