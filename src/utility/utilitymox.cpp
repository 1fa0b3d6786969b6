// CUtilityMOX: the operations that work the same on every system.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "utility/utility_internal.h"
#include "zarn/utilitymox.h"

namespace zarn {

namespace {

constexpr double kMillisecondInDays = 1.1574074074e-8;
constexpr double kHalfSecondInDays = 5.787037037e-6;
constexpr size_t kMaxBlockValues = 5;

// Days from 1970-01-01 of a proleptic Gregorian date (Howard Hinnant's algorithm).
long DaysFromCivil(long y, unsigned m, unsigned d) {
  y -= m <= 2;
  const long era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long>(doe) - 719468;
}

void CivilFromDays(long z, int* y, unsigned* m, unsigned* d) {
  z += 719468;
  const long era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long yy = static_cast<long>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  *d = doy - (153 * mp + 2) / 5 + 1;
  *m = mp < 10 ? mp + 3 : mp - 9;
  *y = static_cast<int>(yy + (*m <= 2));
}

const long kOleEpoch = DaysFromCivil(1899, 12, 30);

// SystemTimeToVariantTime: whole seconds; before the epoch the time of day
// counts away from zero (-1.25 is 29 December 1899, 06:00).
bool ToVariant(const SystemTime& t, double* out) {
  if (t.month < 1 || t.month > 12 || t.day < 1 || t.day > 31 || t.hour > 23 || t.minute > 59 || t.second > 59 ||
      t.year > 9999 || t.year < 100)
    return false;
  const long days = DaysFromCivil(t.year, t.month, t.day) - kOleEpoch;
  const double fraction = (t.hour * 3600.0 + t.minute * 60.0 + t.second) / 86400.0;
  *out = days >= 0 ? days + fraction : days - fraction;
  return true;
}

// VariantTimeToSystemTime: rounded to the nearest second, milliseconds 0.
bool FromVariant(double value, SystemTime* out) {
  if (!(value > -657435.0 && value < 2958466.0)) return false;  // years 100 to 9999
  double whole = std::trunc(value);
  double fraction = std::fabs(value - whole);
  long seconds = std::lround(fraction * 86400.0);
  long days = static_cast<long>(whole);
  if (seconds >= 86400) {
    seconds -= 86400;
    days += value >= 0 ? 1 : -1;
  }
  // A negative value with a time of day lies in the day before its whole part counts back to.
  int y;
  unsigned m, d;
  CivilFromDays(days + kOleEpoch, &y, &m, &d);
  out->year = static_cast<uint16_t>(y);
  out->month = static_cast<uint16_t>(m);
  out->day = static_cast<uint16_t>(d);
  out->dayOfWeek = static_cast<uint16_t>(((days + kOleEpoch) % 7 + 11) % 7);  // 1970-01-01 was a Thursday
  out->hour = static_cast<uint16_t>(seconds / 3600);
  out->minute = static_cast<uint16_t>(seconds / 60 % 60);
  out->second = static_cast<uint16_t>(seconds % 60);
  out->milliseconds = 0;
  return true;
}

int UpperHexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

int AnyHexDigit(char c) {
  const int v = UpperHexDigit(c);
  return v >= 0 ? v : (c >= 'a' && c <= 'f') ? c - 'a' + 10 : -1;
}

char Fold(char c, bool caseSensitive) {
  return caseSensitive ? c : static_cast<char>(toupper(static_cast<unsigned char>(c)));
}

// One character against the set at p (after '['); *end is past the ']'.
bool MatchSet(const char* p, char c, bool caseSensitive, const char** end) {
  bool negate = false;
  if (*p == '!') {
    negate = true;
    ++p;
  }
  bool found = false;
  const char folded = Fold(c, caseSensitive);
  while (*p && *p != ']') {
    char lo = Fold(*p, caseSensitive), hi = lo;
    if (p[1] == '-' && p[2] && p[2] != ']') {
      hi = Fold(p[2], caseSensitive);
      p += 3;
    } else {
      ++p;
    }
    if (folded >= lo && folded <= hi) found = true;
  }
  *end = *p == ']' ? p + 1 : p;
  return found != negate;
}

bool MatchFrom(const char* t, const char* p, bool caseSensitive, int depth) {
  if (depth > 64) return false;
  while (*p) {
    if (*p == '*') {
      while (*p == '*') ++p;
      if (!*p) return true;
      for (const char* s = t; *s; ++s)
        if (MatchFrom(s, p, caseSensitive, depth + 1)) return true;
      return MatchFrom(t + strlen(t), p, caseSensitive, depth + 1);
    }
    if (!*t) return false;
    if (*p == '?') {
      ++p;
    } else if (*p == '#') {
      if (!isdigit(static_cast<unsigned char>(*t))) return false;
      ++p;
    } else if (*p == '[') {
      const char* end = nullptr;
      if (!MatchSet(p + 1, *t, caseSensitive, &end)) return false;
      p = end;
    } else {
      if (Fold(*p, caseSensitive) != Fold(*t, caseSensitive)) return false;
      ++p;
    }
    ++t;
  }
  return *t == '\0';
}

}  // namespace

namespace utility {
std::string FormatLine(const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  const int n = vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (n < 0) return "\n";
  std::string text(static_cast<size_t>(n) + 1, '\0');
  vsnprintf(&text[0], text.size(), format, args);
  text.back() = '\n';
  return text;
}

std::string FormatGuid(uint32_t d1, uint16_t d2, uint16_t d3, const uint8_t d4[8]) {
  char t[40];
  snprintf(t, sizeof t, "%.08X-%.04X-%.04X-%.02X%.02X-%.02X%.02X%.02X%.02X%.02X%.02X", d1, d2, d3, d4[0], d4[1], d4[2],
           d4[3], d4[4], d4[5], d4[6], d4[7]);
  return t;
}
}  // namespace utility

std::string CUtilityMOX::FormatTimeStamp(const SystemTime& t) {
  char s[80];
  snprintf(s, sizeof s, "%04d-%02d-%02d %02d:%02d:%02d.%03d", t.year, t.month, t.day, t.hour, t.minute, t.second,
           t.milliseconds);
  return s;
}

std::string CUtilityMOX::FormatFileTimeStamp(const SystemTime& t) {
  char s[64];
  snprintf(s, sizeof s, "%04d%02d%02d-%02d%02d%02d", t.year, t.month, t.day, t.hour, t.minute, t.second);
  return s;
}

std::string CUtilityMOX::FormatTimeOfDay(const SystemTime& t) {
  char s[48];
  snprintf(s, sizeof s, "%02d:%02d:%02d.%03d", t.hour, t.minute, t.second, t.milliseconds);
  return s;
}

std::string CUtilityMOX::FormatTimeStamp() { return FormatTimeStamp(LocalNow()); }
std::string CUtilityMOX::FormatFileTimeStamp() { return FormatFileTimeStamp(LocalNow()); }
std::string CUtilityMOX::FormatTimeOfDay() { return FormatTimeOfDay(LocalNow()); }

int CUtilityMOX::BytesToHex(char* text, const uint8_t* bytes, int count) {
  static const char kDigits[] = "0123456789ABCDEF";
  if (!text || !bytes || count <= 0) return 0;
  const int room = static_cast<int>(strlen(text) / 2);
  const int n = count < room ? count : room;
  for (int i = 0; i < n; ++i) {
    text[2 * i] = kDigits[bytes[i] >> 4];
    text[2 * i + 1] = kDigits[bytes[i] & 0x0F];
  }
  text[2 * n] = '\0';
  return n;
}

void CUtilityMOX::HexToBytes(const char* text, uint8_t* bytes, int* count) {
  if (count) *count = 0;
  if (!text || !bytes || !count) return;
  char digits[131];
  size_t n = 0;
  for (const char* p = text; *p; ++p) {
    if (*p == ' ') continue;
    if (n == sizeof digits - 1) return;  // more than 130 characters: refused
    digits[n++] = *p;
  }
  for (size_t i = 0; i + 1 < n; i += 2) {
    const int hi = UpperHexDigit(digits[i]), lo = UpperHexDigit(digits[i + 1]);
    bytes[i / 2] = static_cast<uint8_t>((hi < 0 ? 0 : hi) << 4 | (lo < 0 ? 0 : lo));
  }
  *count = static_cast<int>(n / 2);
}

uint8_t CUtilityMOX::HexStringToBytes(const char* text, uint8_t* bytes) {
  if (!text || !bytes) return 0;
  const size_t n = strnlen(text, 2049);
  if (n > 2048 || n % 2 != 0) return 0;
  for (size_t i = 0; i < n; i += 2) {
    const int hi = AnyHexDigit(text[i]), lo = AnyHexDigit(text[i + 1]);
    bytes[i / 2] = (hi < 0 || lo < 0) ? 0 : static_cast<uint8_t>(hi << 4 | lo);
  }
  return static_cast<uint8_t>(n / 2);  // the count as an 8-bit value
}

uint32_t CUtilityMOX::ParseByteList(const char* text) {
  if (!text) return 0;
  uint32_t packed = 0;
  const char* p = text;
  for (;;) {
    unsigned long part = 0;
    for (; *p && *p != ','; ++p)
      if (isdigit(static_cast<unsigned char>(*p))) part = (part * 10 + static_cast<unsigned long>(*p - '0')) % 256;
    packed = packed << 8 | static_cast<uint32_t>(part);
    if (!*p) break;
    ++p;
  }
  return packed;
}

void CUtilityMOX::FormatNumber(double value, int digits, char* out, int size) {
  if (!out || size <= 0) return;
  out[0] = '\0';
  if (digits < 0 || digits > 9 || !std::isfinite(value)) return;
  // "%f" first, then rounded half away from zero at the decimal text, as the
  // number formatting of the system does.
  char fixed[400];
  snprintf(fixed, sizeof fixed, "%f", std::fabs(value));
  std::string whole(fixed, strcspn(fixed, "."));
  std::string fraction = strchr(fixed, '.') ? std::string(strchr(fixed, '.') + 1) : std::string();
  fraction.resize(std::max<size_t>(fraction.size(), static_cast<size_t>(digits) + 1), '0');
  const bool up = fraction[static_cast<size_t>(digits)] >= '5';
  fraction.resize(static_cast<size_t>(digits));
  if (up) {
    std::string all = whole + fraction;
    size_t i = all.size();
    while (i > 0 && all[i - 1] == '9') all[--i] = '0';
    if (i == 0)
      all.insert(all.begin(), '1');
    else
      ++all[i - 1];
    whole = all.substr(0, all.size() - fraction.size());
    fraction = all.substr(all.size() - fraction.size());
  }
  bool zero = true;
  for (char c : whole + fraction)
    if (c != '0') zero = false;
  std::string result;
  if (value < 0 && !zero) result += '-';
  if (whole != "0") {  // no leading zero
    for (size_t i = 0; i < whole.size(); ++i) {
      if (i > 0 && (whole.size() - i) % 3 == 0) result += ',';
      result += whole[i];
    }
  }
  if (digits > 0) result += "." + fraction;
  if (result.empty() || result == "-") result += '0';
  if (result.size() + 1 > static_cast<size_t>(size)) return;
  memcpy(out, result.c_str(), result.size() + 1);
}

bool CUtilityMOX::MatchPattern(const char* text, const char* pattern, bool caseSensitive) {
  if (!text || !pattern) return false;
  return MatchFrom(text, pattern, caseSensitive, 0);
}

bool CUtilityMOX::SystemTimeToVariant(const SystemTime& t, double* out) {
  if (!out || t.milliseconds > 999) return false;
  double v = 0;
  if (!ToVariant(t, &v)) return false;
  *out = v + t.milliseconds * kMillisecondInDays;
  return true;
}

bool CUtilityMOX::VariantToSystemTime(double value, SystemTime* out) {
  if (!out) return false;
  SystemTime t;
  if (!FromVariant(value - kHalfSecondInDays, &t)) return false;
  const double fraction = std::fabs(value - std::trunc(value));
  const long ms = std::lround(std::fmod(fraction * 86400000.0, 1000.0));
  if (ms < 1 || ms > 999) {
    if (!FromVariant(value, &t)) return false;
    t.milliseconds = 0;
  } else {
    t.milliseconds = static_cast<uint16_t>(ms);
  }
  *out = t;
  return true;
}

uint32_t CUtilityMOX::BlockChecksum(const int64_t* values, int count) {
  uint32_t sum = 0;
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(values);
  for (size_t i = 0; i < sizeof(int64_t) * static_cast<size_t>(count); ++i) sum += bytes[i];
  return sum;
}

namespace {
// A block: the values, then the checksum, padded to a multiple of 8 bytes (40 or 48).
struct Block {
  int64_t values[kMaxBlockValues];
  uint32_t checksum;
};
size_t BlockSize(int count) { return (sizeof(int64_t) * static_cast<size_t>(count) + 4 + 7) / 8 * 8; }
}  // namespace

bool CUtilityMOX::WriteSharedBlock(void* view, const char* name, const int64_t* values, int count) {
  if (!view) return true;
  if (!name || !values || (count != 4 && count != 5) || !mapping_) return false;
  uint8_t block[sizeof(Block)] = {};
  memcpy(block, values, sizeof(int64_t) * static_cast<size_t>(count));
  const uint32_t sum = BlockChecksum(values, count);
  memcpy(block + sizeof(int64_t) * static_cast<size_t>(count), &sum, sizeof sum);
  utility::NamedLock lock(std::string(name) + "_mutex");
  if (!lock.Owned()) return false;
  memcpy(view, block, BlockSize(count));
  return true;
}

bool CUtilityMOX::ReadSharedBlock(const void* view, const char* name, int64_t* values, int count) {
  if (!view || !name || !values || (count != 4 && count != 5)) return false;
  uint8_t block[sizeof(Block)] = {};
  {
    utility::NamedLock lock(std::string(name) + "_mutex");
    if (!lock.Owned()) return false;
    memcpy(block, view, BlockSize(count));
  }
  int64_t copy[kMaxBlockValues];
  memcpy(copy, block, sizeof(int64_t) * static_cast<size_t>(count));
  uint32_t stored;
  memcpy(&stored, block + sizeof(int64_t) * static_cast<size_t>(count), sizeof stored);
  if (BlockChecksum(copy, count) != stored) return false;  // the caller's values stay as they were
  memcpy(values, copy, sizeof(int64_t) * static_cast<size_t>(count));
  return true;
}

std::string CUtilityMOX::OsNameFor(int major, int minor, bool workstation, bool serverR2, bool homeServer) {
  if (major == 5 && minor == 1) return "Windows XP";
  if (major == 5 && minor == 2) {
    if (workstation) return "Windows XP Professional x64 Edition";
    if (!serverR2) return "Windows Server 2003";
    return homeServer ? "Windows Home Server" : "Windows Server 2003 R2";
  }
  if (major == 6) {
    switch (minor) {
      case 0: return workstation ? "Windows Vista" : "Windows Server 2008";
      case 1: return workstation ? "Windows 7" : "Windows Server 2008 R2";
      case 2: return workstation ? "Windows 8" : "Windows Server 2012";
      case 3: return workstation ? "Windows 8.1" : "Windows Server 2012 R2";
    }
  }
  return "";
}

const char* CUtilityMOX::CtrlEventMessage(unsigned event) {
  switch (event) {
    case 0: return "CTRL+C received! The action is canceled!\n";
    case 1: return "CTRL+BREAK received! The action is canceled!\n";
    case 2: return "Program being closed! The action is canceled!\n";
    case 5: return "User is logging off! The action is canceled!\n";
    case 6: return "User is logging off!! The action is canceled!\n";
    default: return "";
  }
}

}  // namespace zarn
