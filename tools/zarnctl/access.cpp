#include "access.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <type_traits>

namespace zarnctl {

namespace obj = zarn::objects;

namespace {

const ValueType kTypes[] = {{"u8", 1, false},  {"i8", 1, true},  {"u16", 2, false}, {"i16", 2, true},
                            {"u32", 4, false}, {"i32", 4, true}, {"str", 0, false}};

template <typename T>
const ValueType& TypeFor() {
  for (const ValueType& t : kTypes)
    if (t.width == int(sizeof(T)) && t.isSigned == std::is_signed<T>::value) return t;
  return kTypes[6];
}

// The subindices of an index record have the types of the library's record.
const ValueType* IndexRecordType(uint8_t sub) {
  switch (sub) {
    case 1: return &TypeFor<decltype(IndexParameter::sub1)>();
    case 2:
    case 3:
    case 4:
    case 5:
    case 6:
    case 7: return &TypeFor<decltype(IndexParameter::sub2)>();
    case 8:
    case 9:
    case 10:
    case 11: return &TypeFor<decltype(IndexParameter::sub8)>();
    default: return nullptr;
  }
}

bool SameName(const std::string& a, const char* b) {
  size_t i = 0;
  for (; i < a.size() && b[i]; ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  return i == a.size() && b[i] == '\0';
}

bool ParseAddress(const std::string& text, uint16_t* index, uint8_t* sub) {
  const char* p = text.c_str();
  if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) p += 2;
  unsigned i = 0, s = 0;
  int used = 0;
  if (sscanf(p, "%4x:%2x%n", &i, &s, &used) != 2 || p[used] != '\0') return false;
  *index = uint16_t(i);
  *sub = uint8_t(s);
  return true;
}

}  // namespace

const ValueType* FindType(const std::string& name) {
  for (const ValueType& t : kTypes)
    if (name == t.name) return &t;
  return nullptr;
}

const ValueType& TypeOf(const obj::Object& object) {
  for (const ValueType& t : kTypes)
    if (t.width == object.width && t.isSigned == object.isSigned) return t;
  return kTypes[6];
}

std::string AccessName(obj::Access access) {
  switch (access) {
    case obj::Access::kMonitor: return "read-only";
    case obj::Access::kCommand: return "command";
    case obj::Access::kSetting: return "setting";
  }
  return "";
}

std::string Target::Address() const {
  char text[16];
  snprintf(text, sizeof text, "0x%04X:%02X", index, subIndex);
  return text;
}

std::string Target::Label() const { return object ? std::string(object->name) : Address(); }

Target ResolveTarget(const std::string& text) {
  Target t;
  for (const obj::Object& o : obj::kAll)
    if (SameName(text, o.name)) return TargetOf(o);
  if (!ParseAddress(text, &t.index, &t.subIndex))
    throw UsageFailure("unknown object " + text,
                       "give a name (zarnctl objects lists them) or an address such as 0x6064:00");
  for (const obj::Object& o : obj::kAll)
    if (o.index == t.index && o.subIndex == t.subIndex) return TargetOf(o);
  if (t.index >= obj::kIndexParameterBase && t.index <= obj::kIndexParameterBase + 0xFF)
    t.type = IndexRecordType(t.subIndex);
  else if (t.index == obj::kAlarmHistory)
    t.type = FindType("str");
  return t;
}

const ValueType& ChooseType(const Target& target, const std::string& given) {
  if (!given.empty()) {
    const ValueType* t = FindType(given);
    if (!t) throw UsageFailure("unknown type " + given, "types: u8 i8 u16 i16 u32 i32 str");
    return *t;
  }
  if (!target.type)
    throw UsageFailure("the type of " + target.Address() + " is not known",
                       "give it after the object: u8 i8 u16 i16 u32 i32 str");
  return *target.type;
}

bool ParseInteger(const std::string& text, int64_t lo, int64_t hi, int64_t* out) {
  if (text.empty()) return false;
  // Decimal, or hexadecimal after 0x: a leading zero does not make "010" octal 8.
  const size_t digits = text[0] == '-' || text[0] == '+' ? 1 : 0;
  const bool hex =
      text.size() > digits + 2 && text[digits] == '0' && (text[digits + 1] == 'x' || text[digits + 1] == 'X');
  char* end = nullptr;
  errno = 0;
  const long long v = strtoll(text.c_str(), &end, hex ? 16 : 10);
  if (*end != '\0' || errno != 0 || v < lo || v > hi) return false;
  *out = v;
  return true;
}

Value ParseValue(const std::string& text, const ValueType& type) {
  Value v;
  if (type.width == 0) {
    v.text = text;
    return v;
  }
  const int bits = type.width * 8;
  const int64_t lo = type.isSigned ? -(int64_t(1) << (bits - 1)) : 0;
  const int64_t hi = type.isSigned ? (int64_t(1) << (bits - 1)) - 1 : (int64_t(1) << bits) - 1;
  if (!ParseInteger(text, lo, hi, &v.number))
    throw UsageFailure("value " + text + " does not fit " + type.name,
                       std::string(type.name) + " takes " + std::to_string(lo) + " to " + std::to_string(hi));
  return v;
}

namespace {
// One typed read through its export: the value widened into *out.
template <typename T>
int32_t ReadAs(const Link& link, const std::string& what, int32_t(ZARN_CALL* read)(uint8_t, uint16_t, uint8_t, T*),
               const Target& t, Value* out) {
  T v = 0;
  const int32_t code = link.Call(what, read, t.index, t.subIndex, &v);
  out->number = v;
  return code;
}
}  // namespace

int32_t ReadTyped(const Link& link, const Target& t, const ValueType& type, Value* out) {
  const std::string what = "read " + t.Label();
  switch (type.width * (type.isSigned ? -1 : 1)) {
    case 1: return ReadAs(link, what, ZARN_ReadByte, t, out);
    case -1: return ReadAs(link, what, ZARN_ReadByteS, t, out);
    case 2: return ReadAs(link, what, ZARN_ReadWord, t, out);
    case -2: return ReadAs(link, what, ZARN_ReadWordS, t, out);
    case 4: return ReadAs(link, what, ZARN_ReadDWord, t, out);
    case -4: return ReadAs(link, what, ZARN_ReadDWordS, t, out);
    default: {
      char text[33] = "";
      const int32_t code = link.Call(what, ZARN_ReadString, t.index, t.subIndex, text);
      out->text = text;
      return code;
    }
  }
}

int32_t WriteTyped(const Link& link, const Target& t, const ValueType& type, const Value& v) {
  const std::string what = "write " + t.Label();
  switch (type.width * (type.isSigned ? -1 : 1)) {
    case 1: return link.Call(what, ZARN_WriteByte, t.index, t.subIndex, uint8_t(v.number));
    case -1: return link.Call(what, ZARN_WriteByteS, t.index, t.subIndex, int8_t(v.number));
    case 2: return link.Call(what, ZARN_WriteWord, t.index, t.subIndex, uint16_t(v.number));
    case -2: return link.Call(what, ZARN_WriteWordS, t.index, t.subIndex, int16_t(v.number));
    case 4: return link.Call(what, ZARN_WriteDWord, t.index, t.subIndex, uint32_t(v.number));
    case -4: return link.Call(what, ZARN_WriteDWordS, t.index, t.subIndex, int32_t(v.number));
    default: return link.Call(what, ZARN_WriteString, t.index, t.subIndex, v.text.c_str());
  }
}

Target TargetOf(const obj::Object& o) {
  Target t;
  t.index = o.index;
  t.subIndex = o.subIndex;
  t.object = &o;
  t.type = &TypeOf(o);
  return t;
}

int64_t ReadNumber(const Link& link, const obj::Object& o) {
  const Target t = TargetOf(o);
  Value v;
  const int32_t code = ReadTyped(link, t, *t.type, &v);
  if (code != ZARN_OK) throw LibraryFailure("read " + t.Label(), code);
  return v.number;
}

std::string HexOf(const ValueType& type, int64_t v) {
  const int bits = type.width * 8;
  const uint64_t mask = bits >= 64 ? ~uint64_t(0) : (uint64_t(1) << bits) - 1;
  return HexText(uint64_t(v) & mask, type.width * 2);
}

void AddValue(Report& report, const ValueType& type, const Value& value) {
  if (type.width == 0) {
    report.Text("value", value.text);
    return;
  }
  const std::string hex = HexOf(type, value.number);
  report.Add("value", value.number, std::to_string(value.number) + " (" + hex + ")");
  report.JsonOnly("hex", hex);
}

}  // namespace zarnctl
