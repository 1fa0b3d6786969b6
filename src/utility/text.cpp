// CUtilityMOX's text conversions: hex text, byte lists, number formatting,
// wildcard patterns, and the text helpers both systems share.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "utility/utility_internal.h"
#include "zarn/utilitymox.h"

namespace zarn {

namespace {

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

// One character against the one-character element at p ('?', '#', a set or a
// literal); *end is past the element.
bool MatchOne(const char* p, char c, bool caseSensitive, const char** end) {
  switch (*p) {
    case '?': *end = p + 1; return true;
    case '#': *end = p + 1; return isdigit(static_cast<unsigned char>(c)) != 0;
    case '[': return MatchSet(p + 1, c, caseSensitive, end);
    default: *end = p + 1; return Fold(*p, caseSensitive) == Fold(c, caseSensitive);
  }
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

std::string KeyName(const std::string& base, const char* subkey) {
  std::string key = base + "\\" + (subkey ? subkey : "");
  if (key.size() > kKeyLimit) key.resize(kKeyLimit);
  return key;
}

void SplitModulePath(const char* path, char* drive, char* folder, char* baseName, char* extension,
                     char* folderAndBaseName) {
  const std::string full = path ? path : "";
  const size_t driveLength = full.size() >= 2 && full[1] == ':' && isalpha(static_cast<unsigned char>(full[0])) ? 2 : 0;
  const size_t slash = full.find_last_of("\\/");
  const size_t nameAt = slash == std::string::npos || slash < driveLength ? driveLength : slash + 1;
  const std::string name = full.substr(nameAt);
  const size_t dot = name.rfind('.');
  const auto put = [](char* out, const std::string& text) { snprintf(out, kNameField, "%s", text.c_str()); };
  put(drive, full.substr(0, driveLength));
  put(folder, full.substr(driveLength, nameAt - driveLength));
  put(baseName, name.substr(0, dot));
  put(extension, dot == std::string::npos ? "" : name.substr(dot));
  put(folderAndBaseName, full.substr(driveLength, nameAt - driveLength) + name.substr(0, dot));
}

bool AdapterNameAccepted(const char* name) {
  if (!name || !*name) return false;
  for (const char* p = name; *p; ++p) {
    const unsigned char c = static_cast<unsigned char>(*p);
    if (c < 0x20 || c == 0x7F || strchr("\"%!", c)) return false;
  }
  return true;
}

std::string QuoteWindowsArgument(const std::string& argument) {
  std::string quoted = "\"";
  size_t backslashes = 0;
  for (char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, '\\');  // before the closing quote
  return quoted + "\"";
}

}  // namespace utility

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

// Every element but '*' takes exactly one character, so only the latest '*'
// ever needs another try: on a mismatch it takes one more character and the
// rest of the pattern starts again after it. At most (text + 1) x (pattern + 1)
// steps, no recursion.
bool CUtilityMOX::MatchPattern(const char* text, const char* pattern, bool caseSensitive) {
  if (!text || !pattern) return false;
  const char* t = text;
  const char* p = pattern;
  const char* afterStar = nullptr;  // the pattern after the latest '*'
  const char* starText = nullptr;   // where the text stood when that '*' was reached
  while (*t) {
    if (*p == '*') {
      while (*p == '*') ++p;
      if (!*p) return true;
      afterStar = p;
      starText = t;
      continue;
    }
    const char* next = nullptr;
    if (*p && MatchOne(p, *t, caseSensitive, &next)) {
      p = next;
      ++t;
    } else if (afterStar) {
      p = afterStar;
      t = ++starText;
    } else {
      return false;
    }
  }
  while (*p == '*') ++p;
  return *p == '\0';
}

}  // namespace zarn
