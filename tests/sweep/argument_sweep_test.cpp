// Every export, with each of its arguments made bad in turn (null pointers,
// drive ids 0, 31, 32 and 255, over-long texts, absurd speeds, bit numbers
// out of the word, negative counts, type extremes) and after its connection
// was closed, against a pseudo-terminal drive and a UDP drive. Each call must
// end in time with a code of the table, record it as its documentation says,
// write nothing outside the caller's buffers, and send nothing when it
// refuses an argument. The export table comes from the public header at build
// time, so a new export is swept as soon as it is declared.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "argument_sweep.h"
#include "core/state.h"
#include "fixtures.h"
#include "protocol/objects.h"

namespace zarn {
namespace sweep {
namespace {

using test::Bytes;
using test::Clock;
using test::MsSince;

// A code no operation raises: what the last error holds before each call.
constexpr int32_t kUntouched = ZARN_E_SERIAL_STATUS;
constexpr size_t kGuard = 64;
constexpr uint8_t kPoison = 0xA5;
// The longest export (a parameter store) sleeps 2 s between two requests.
constexpr long kCallBoundMs = 6000;
// The object the markers read: no drive has it.
constexpr uint16_t kMarkerIndex = 0x7FFF;
constexpr uint8_t kMarkerSub = 0x55;

// Exports documented to leave the last error alone, and to pass over null pointers.
const std::set<std::string> kLeaveLastError = {"ZARN_GetErrorCode", "ZARN_GetZarnDllVersion", "ZARN_GetTimeout",
                                               "ZARN_SetTimeout"};
const std::set<std::string> kNullPassedOver = {"ZARN_GetErrorCode", "ZARN_GetErrorString", "ZARN_GetZarnDllVersion",
                                               "ZARN_GetTimeout"};
// A null pointer gives ZARN_E_INVALID_PARAM, but the serial open answers every refusal with its own code.
const std::map<std::string, int32_t> kNullCode = {{"ZARN_SDRVOpen", ZARN_E_SERIAL_OPEN}};
// Codes that refuse a call before anything goes to a drive.
const std::set<int32_t> kRefusals = {ZARN_E_INVALID_PARAM,       ZARN_E_SERIAL_OPEN, ZARN_E_ETH_OPEN,
                                     ZARN_E_ETH_SLOT_USED,       ZARN_E_ETH_NO_SLOT, ZARN_E_NO_CONNECTION,
                                     ZARN_E_NO_EMPTY_CONNECTION, ZARN_E_ID_RANGE,    ZARN_E_STRING_TOO_LONG};

// The drives every case starts with: two on the serial line, two over UDP.
constexpr uint8_t kSerialIds[] = {1, 0};
constexpr uint8_t kEthernetIds[] = {2, 31};
// An id of either width that no connection holds when a case starts.
constexpr int64_t kFreeId = 5;

struct Context {
  const char* name;
  uint8_t driveId;  // for the exports that address a drive
};

enum class Arg { kInteger, kNull, kOut, kText, kBytes, kRecord };

struct ArgSpec {
  Arg kind = Arg::kInteger;
  int64_t integer = 0;
  std::string text;
};

struct Case {
  std::string label;
  Context context;
  std::vector<ArgSpec> args;
  int nullParam = -1;
  bool afterClose = false;
};

bool Named(const ParamInfo& p, const char* name) { return strcmp(p.name, name) == 0; }

std::pair<int64_t, int64_t> Range(ArgType t) {
  switch (t) {
    case ArgType::kU8: return {0, UINT8_MAX};
    case ArgType::kI8: return {INT8_MIN, INT8_MAX};
    case ArgType::kChar: return {std::numeric_limits<char>::min(), std::numeric_limits<char>::max()};
    case ArgType::kU16: return {0, UINT16_MAX};
    case ArgType::kI16: return {INT16_MIN, INT16_MAX};
    case ArgType::kU32: return {0, UINT32_MAX};
    case ArgType::kI32: return {INT32_MIN, INT32_MAX};
    case ArgType::kInt: return {INT_MIN, INT_MAX};
    case ArgType::kRecord: break;
  }
  return {0, 0};
}

size_t ElementSize(ArgType t) {
  switch (t) {
    case ArgType::kU16:
    case ArgType::kI16: return 2;
    case ArgType::kU32:
    case ArgType::kI32: return 4;
    case ArgType::kInt: return sizeof(int);
    case ArgType::kRecord: return sizeof(IndexParameter);
    default: return 1;
  }
}

class ArgumentSweep : public ::testing::TestWithParam<size_t> {
 protected:
  void SetUp() override {
    ASSERT_FALSE(serial.SlavePath().empty()) << "no pseudo-terminal";
    // Every object of the map exists (zeros, texts "TEXT"); the drive is in position.
    for (const objects::Object& o : objects::kAll)
      model.Set(o.index, o.subIndex, o.width ? Bytes(o.width, 0) : Bytes{'T', 'E', 'X', 'T'});
    model.SetWord(objects::StateOutput.index, 0, 1u << objects::bits::kInPosition);
    model.Set(objects::kAlarmHistory, 1, {'A', 'L', '-', '0', '1'});
    serial.SetResponder([this](const Bytes& req) { return req.empty() ? test::Reply{} : model.Serial(req[0])(req); });
    udp.SetResponder(model.Ethernet());
  }
  void TearDown() override { CloseAll(); }

  void OpenAll() {
    for (uint8_t id : kSerialIds) ASSERT_EQ(0, ZARN_SDRVOpen(id, serial.SlavePath().c_str(), 115200));
    // Each open's identification read has been answered when the open returns.
    for (uint8_t id : kEthernetIds) ASSERT_EQ(0, ZARN_EDRVOpen(id, "127.0.0.1", udp.Port()));
    serial.ClearRequests();
    udp.ClearRequests();
  }

  static void CloseAll() {
    for (int id = 0; id < 256; ++id) ZARN_DriveClose(id);
    ZARN_SetTimeout(3, 1);
    ZARN_SetEoESetupFile("");
  }

  // What reached the drives, the markers left out. A marker read through each
  // open connection comes after everything the case sent on it, so once it
  // is answered nothing of the case is still on its way.
  std::vector<Bytes> Sent() {
    bool answered = true;
    for (uint8_t id : {kSerialIds[0], kEthernetIds[0], kEthernetIds[1]}) {
      uint16_t v = 0;
      answered &= ZARN_ReadWord(id, kMarkerIndex, kMarkerSub, &v) == ZARN_E_REPLY_ILLEGAL_ADDRESS;
    }
    if (!answered) std::this_thread::sleep_for(std::chrono::milliseconds(150));
    std::vector<Bytes> sent;
    for (const Bytes& r : serial.Requests())
      if (!(r.size() == 11 && r[6] == kMarkerIndex >> 8 && r[7] == (kMarkerIndex & 0xFF) && r[8] == kMarkerSub))
        sent.push_back(r);
    for (const Bytes& r : udp.Requests())
      if (!(r.size() == 8 && r[5] == kMarkerIndex >> 8 && r[6] == (kMarkerIndex & 0xFF) && r[7] == kMarkerSub))
        sent.push_back(r);
    return sent;
  }

  std::vector<Case> Cases(const ExportInfo& e) const;
  void Run(const ExportInfo& e, const Case& c);

  test::DriveModel model;  // outlives the peers' threads that call it
  test::SerialPeer serial;
  test::UdpPeer udp;
};

ArgSpec ValidArg(const ParamInfo& p, const Context& ctx, const std::string& serialPath, uint16_t udpPort) {
  ArgSpec a;
  if (p.pointer && !p.isConst) {
    a.kind = Arg::kOut;
  } else if (p.pointer && p.type == ArgType::kChar) {
    a.kind = Arg::kText;
    a.text = Named(p, "port")      ? serialPath
             : Named(p, "address") ? "127.0.0.1"
             : Named(p, "path")    ? "setup.xml"
                                   : "0aFF";
  } else if (p.pointer) {
    a.kind = p.type == ArgType::kRecord ? Arg::kRecord : Arg::kBytes;
  } else if (Named(p, "driveId")) {
    a.integer = p.type == ArgType::kU8 ? ctx.driveId : kFreeId;
  } else if (Named(p, "baud")) {
    a.integer = 115200;
  } else if (Named(p, "port")) {
    a.integer = udpPort;
  } else if (Named(p, "bit")) {
    a.integer = 3;
  } else if (Named(p, "length")) {
    a.integer = 4;
  } else if (Named(p, "timeout")) {
    a.integer = 20;
  } else if (Named(p, "socketTimeout")) {
    a.integer = 3;
  } else if (Named(p, "index")) {
    a.integer = 0x2100;
  } else if (Named(p, "subIndex")) {
    a.integer = 0;
  } else {
    a.integer = Named(p, "number") && p.type != ArgType::kU8 ? 5 : 1;
  }
  return a;
}

// The bad values of one parameter, with a label each.
std::vector<std::pair<std::string, ArgSpec>> BadArgs(const ParamInfo& p, bool firstContext) {
  std::vector<std::pair<std::string, ArgSpec>> bad;
  auto integer = [&](const std::string& label, int64_t v) {
    ArgSpec a;
    a.integer = v;
    bad.emplace_back(std::string(p.name) + "=" + label, a);
  };
  if (p.pointer) {
    ArgSpec null;
    null.kind = Arg::kNull;
    bad.emplace_back(std::string(p.name) + "=null", null);
    if (p.isConst && p.type == ArgType::kChar && !Named(p, "address")) {
      for (size_t n : {size_t(0), size_t(33), size_t(256), size_t(65536)}) {
        ArgSpec text;
        text.kind = Arg::kText;
        text.text.assign(n, '7');
        bad.emplace_back(std::string(p.name) + "=" + std::to_string(n) + " characters", text);
      }
    }
    return bad;
  }
  if (Named(p, "driveId")) {
    if (!firstContext) return bad;  // drive ids are swept once, not per transport
    for (int64_t id : {0, 31, 32, 255}) integer(std::to_string(id), id);
    if (p.type != ArgType::kU8)
      for (int64_t id : {int64_t(-1), int64_t(256), int64_t(INT32_MIN), int64_t(INT32_MAX)})
        integer(std::to_string(id), id);
    return bad;
  }
  if (Named(p, "baud")) {
    for (int64_t b : {int64_t(0), int64_t(1), int64_t(UINT32_MAX)}) integer(std::to_string(b), b);
  } else if (Named(p, "bit")) {
    for (int64_t b : {int64_t(16), int64_t(-1), int64_t(INT_MIN), int64_t(INT_MAX)}) integer(std::to_string(b), b);
  } else if (Named(p, "length")) {
    for (int64_t n : {int64_t(0), int64_t(-1), int64_t(INT32_MIN)}) integer(std::to_string(n), n);
  } else {
    const auto range = Range(p.type);
    integer("min", range.first);
    integer("max", range.second);
    if (Named(p, "number") && range.first != 0) integer("-1", -1);
  }
  return bad;
}

std::vector<Case> ArgumentSweep::Cases(const ExportInfo& e) const {
  const size_t n = ParamCount(e);
  bool addressesDrive = false;
  for (size_t i = 0; i < n; ++i) addressesDrive |= Named(e.params[i], "driveId") && e.params[i].type == ArgType::kU8;
  const std::vector<Context> contexts =
      addressesDrive ? std::vector<Context>{{"serial", kSerialIds[0]}, {"ethernet", kEthernetIds[0]}}
                     : std::vector<Context>{{"", 0}};
  std::vector<Case> cases;
  for (size_t k = 0; k < contexts.size(); ++k) {
    Case valid;
    valid.context = contexts[k];
    for (size_t i = 0; i < n; ++i)
      valid.args.push_back(ValidArg(e.params[i], contexts[k], serial.SlavePath(), udp.Port()));
    valid.label = "valid arguments";
    cases.push_back(valid);
    for (size_t i = 0; i < n; ++i) {
      for (auto& bad : BadArgs(e.params[i], k == 0)) {
        Case c = valid;
        c.label = bad.first;
        c.args[i] = bad.second;
        if (bad.second.kind == Arg::kNull) c.nullParam = static_cast<int>(i);
        cases.push_back(c);
      }
    }
    Case closed = valid;
    closed.label = "after close";
    closed.afterClose = true;
    cases.push_back(closed);
  }
  return cases;
}

// A signal configuration export refuses signal number 0 without recording it.
bool UnrecordedRefusal(const ExportInfo& e, const Case& c) {
  const std::string name = e.name;
  if (name.size() < 7 || name.compare(name.size() - 7, 7, "Signals") != 0) return false;
  for (size_t i = 0; i < c.args.size(); ++i)
    if (Named(e.params[i], "number") && c.args[i].kind == Arg::kInteger && c.args[i].integer == 0) return true;
  return false;
}

void ArgumentSweep::Run(const ExportInfo& e, const Case& c) {
  SCOPED_TRACE(std::string(e.name) + " (" + c.label + (*c.context.name ? ", " : "") + c.context.name + ")");
  OpenAll();
  if (::testing::Test::HasFatalFailure()) return;
  if (c.afterClose) CloseAll();
  const size_t n = c.args.size();
  Value values[kMaxParams] = {};
  std::vector<std::unique_ptr<uint8_t[]>> storage(n);
  uint8_t bytes[4] = {0x0A, 0xFF, 0x00, 0x7F};
  IndexParameter record = {};
  for (size_t i = 0; i < n; ++i)
    if (c.args[i].kind == Arg::kInteger) values[i].integer = c.args[i].integer;
  std::vector<size_t> outSize(n, 0);
  for (size_t i = 0; i < n; ++i) {
    const ArgSpec& a = c.args[i];
    switch (a.kind) {
      case Arg::kInteger:
      case Arg::kNull: break;
      case Arg::kText: values[i].pointer = const_cast<char*>(a.text.c_str()); break;
      case Arg::kBytes: values[i].pointer = bytes; break;
      case Arg::kRecord: values[i].pointer = &record; break;
      case Arg::kOut: {
        const ParamInfo& p = e.params[i];
        int64_t size = p.documentedBytes ? p.documentedBytes(values) : static_cast<int64_t>(ElementSize(p.type));
        outSize[i] = static_cast<size_t>(size < 1 ? 1 : size);
        storage[i].reset(new uint8_t[kGuard + outSize[i] + kGuard]);
        memset(storage[i].get(), kPoison, kGuard + outSize[i] + kGuard);
        values[i].pointer = storage[i].get() + kGuard;
        break;
      }
    }
  }

  SetLastError(kUntouched);
  const auto start = Clock::now();
  const int32_t code = e.call(values);
  const long ms = MsSince(start);
  const int32_t recorded = ZARN_GetErrorCode(nullptr);

  EXPECT_TRUE(code >= 0 && code < ZARN_ERROR_COUNT) << "undefined code " << code;
  EXPECT_LT(ms, kCallBoundMs);
  if (kLeaveLastError.count(e.name) || UnrecordedRefusal(e, c))
    EXPECT_EQ(kUntouched, recorded) << "the last error changed";
  else
    EXPECT_EQ(code, recorded) << "the code is not recorded as the last error";
  if (c.nullParam >= 0 && !kNullPassedOver.count(e.name)) {
    const auto own = kNullCode.find(e.name);
    EXPECT_EQ(own == kNullCode.end() ? ZARN_E_INVALID_PARAM : own->second, code)
        << e.params[c.nullParam].name << " is null";
  }
  for (size_t i = 0; i < n; ++i) {
    if (!storage[i]) continue;
    for (size_t b = 0; b < kGuard; ++b) {
      ASSERT_EQ(kPoison, storage[i][b]) << e.params[i].name << ": written before the buffer";
      ASSERT_EQ(kPoison, storage[i][kGuard + outSize[i] + b])
          << e.params[i].name << ": written past its " << outSize[i] << " bytes";
    }
  }
  if (c.nullParam >= 0 || kRefusals.count(code)) {
    const std::vector<Bytes> sent = Sent();
    EXPECT_TRUE(sent.empty()) << "refused with " << code << " yet sent " << sent.size() << " request(s), the first "
                              << test::Hex(sent[0]);
  }
  CloseAll();
}

TEST_P(ArgumentSweep, EndsWithADefinedCodeAndSendsNothingWhenItRefuses) {
  const ExportInfo& e = kExports[GetParam()];
  const std::vector<Case> cases = Cases(e);
  for (const Case& c : cases) {
    Run(e, c);
    if (HasFatalFailure()) return;
  }
  RecordProperty("cases", static_cast<int>(cases.size()));
}

INSTANTIATE_TEST_SUITE_P(Exports, ArgumentSweep, ::testing::Range<size_t>(0, kExportCount),
                         [](const ::testing::TestParamInfo<size_t>& info) {
                           return std::string(kExports[info.param].name);
                         });

}  // namespace
}  // namespace sweep
}  // namespace zarn
