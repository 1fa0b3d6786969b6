// The text parsers and formatters of the utility toolkit and of the library's
// hex exports over any input. Each result is checked against what the input
// calls for (a plain reference where the rule is short, a round trip where it
// is not), and every output buffer is allocated at the size the caller is
// told to give, so a byte past it is an AddressSanitizer report.
// Covers: src/utility/text.cpp src/utility/time.cpp
#include <fuzzer/FuzzedDataProvider.h>

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "utility/utility_internal.h"
#include "zarn/utilitymox.h"
#include "zarn/zarn.h"

using namespace zarn;

#define REQUIRE(condition) \
  if (!(condition)) __builtin_trap()

namespace {

// A NUL-terminated text in a buffer of exactly its size.
std::unique_ptr<char[]> Text(const std::string& s) {
  std::unique_ptr<char[]> t(new char[s.size() + 1]);
  memcpy(t.get(), s.c_str(), s.size() + 1);
  return t;
}

int UpperHex(char c) { return c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1; }
int AnyHex(char c) { return UpperHex(c) >= 0 ? UpperHex(c) : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1; }

// A text as a C caller hands it over: up to its first NUL.
std::string CText(const std::string& s) { return std::string(s.c_str()); }

void HexToBytes(FuzzedDataProvider& in) {
  const std::string s = CText(in.ConsumeRandomLengthString(300));
  std::unique_ptr<uint8_t[]> bytes(new uint8_t[65]);  // 130 digits at most
  int count = -1;
  CUtilityMOX::HexToBytes(s.c_str(), bytes.get(), &count);
  std::string digits;
  for (char c : s)
    if (c != ' ') digits += c;
  REQUIRE(count == (digits.size() > 130 ? 0 : static_cast<int>(digits.size() / 2)));
  for (int i = 0; i < count; ++i) {
    const int hi = UpperHex(digits[2 * i]), lo = UpperHex(digits[2 * i + 1]);
    REQUIRE(bytes[i] == ((hi < 0 ? 0 : hi) << 4 | (lo < 0 ? 0 : lo)));
  }
}

void HexStringToBytes(FuzzedDataProvider& in) {
  const std::string s = CText(in.ConsumeRandomLengthString(2100));
  auto text = Text(s);
  std::unique_ptr<uint8_t[]> bytes(new uint8_t[1024]);  // 2048 digits at most
  const uint8_t n = CUtilityMOX::HexStringToBytes(text.get(), bytes.get());
  const bool accepted = s.size() <= 2048 && s.size() % 2 == 0;
  REQUIRE(n == (accepted ? static_cast<uint8_t>(s.size() / 2) : 0));
  if (!accepted) return;
  for (size_t i = 0; i < s.size() / 2; ++i) {
    const int hi = AnyHex(s[2 * i]), lo = AnyHex(s[2 * i + 1]);
    REQUIRE(bytes[i] == (hi < 0 || lo < 0 ? 0 : hi << 4 | lo));
  }
}

void BytesToHex(FuzzedDataProvider& in) {
  // The text's present length is its room: 2 characters a byte.
  auto text = Text(std::string(in.ConsumeIntegralInRange<size_t>(0, 80), 'x'));
  const size_t room = strlen(text.get()) / 2;
  const std::vector<uint8_t> source = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(1, 40));
  std::unique_ptr<uint8_t[]> bytes(new uint8_t[source.size() + 1]);
  if (!source.empty()) memcpy(bytes.get(), source.data(), source.size());
  const int count = in.ConsumeIntegralInRange<int>(-3, static_cast<int>(source.size()));
  const int n = CUtilityMOX::BytesToHex(text.get(), bytes.get(), count);
  REQUIRE(n == (count <= 0 ? 0 : std::min<int>(count, static_cast<int>(room))));
  if (count <= 0) return;
  REQUIRE(strlen(text.get()) == 2u * n);
  static const char kDigits[] = "0123456789ABCDEF";
  for (int i = 0; i < n; ++i)
    REQUIRE(text[2 * i] == kDigits[bytes[i] >> 4] && text[2 * i + 1] == kDigits[bytes[i] & 15]);
}

void ParseByteList(FuzzedDataProvider& in) {
  const std::string s = CText(in.ConsumeRandomLengthString(200));
  uint32_t expected = 0;
  size_t at = 0;
  for (;;) {
    const size_t comma = s.find(',', at);
    unsigned part = 0;
    for (size_t i = at; i < (comma == std::string::npos ? s.size() : comma); ++i)
      if (isdigit(static_cast<unsigned char>(s[i]))) part = (part * 10 + (s[i] - '0')) % 256;
    expected = expected << 8 | part;
    if (comma == std::string::npos) break;
    at = comma + 1;
  }
  REQUIRE(CUtilityMOX::ParseByteList(s.c_str()) == expected);
}

void FormatNumber(FuzzedDataProvider& in) {
  double value;
  if (in.ConsumeBool()) {
    uint64_t bits = in.ConsumeIntegral<uint64_t>();
    memcpy(&value, &bits, sizeof value);  // any pattern: NaN, infinities, subnormals
  } else {
    value = in.ConsumeFloatingPointInRange<double>(-1e12, 1e12);
  }
  const int digits = in.ConsumeIntegralInRange<int>(-2, 11);
  const int size = in.ConsumeIntegralInRange<int>(0, 40);
  char full[600];
  CUtilityMOX::FormatNumber(value, digits, full, sizeof full);
  const bool formattable = std::isfinite(value) && digits >= 0 && digits <= 9;
  REQUIRE(formattable == (full[0] != '\0'));
  // A smaller buffer gets the whole text or the empty one; never a byte past its size.
  std::unique_ptr<char[]> out(new char[size > 0 ? size : 1]);
  out[0] = 'x';
  CUtilityMOX::FormatNumber(value, digits, out.get(), size);
  if (size == 0) REQUIRE(out[0] == 'x');
  if (size > 0) REQUIRE(strlen(full) < static_cast<size_t>(size) ? strcmp(out.get(), full) == 0 : out[0] == '\0');
  if (!formattable) return;
  // Sign, groups of three before the point, exactly `digits` after it.
  std::string s = full, plain;
  size_t i = s[0] == '-' ? 1 : 0;
  const size_t point = s.find('.');
  const size_t whole = point == std::string::npos ? s.size() : point;
  for (size_t k = i; k < whole; ++k) {
    if ((whole - k) % 4 == 0) {
      REQUIRE(s[k] == ',' && k > i);
    } else {
      REQUIRE(isdigit(static_cast<unsigned char>(s[k])));
      plain += s[k];
    }
  }
  REQUIRE(plain.empty() || plain[0] != '0' || s == "0" || s == "-0");
  REQUIRE(digits == 0 ? point == std::string::npos : s.size() - point - 1 == static_cast<size_t>(digits));
  // Close to the value: half a unit of the last digit, after "%f"'s own six.
  const double shown =
      strtod((s.substr(0, i) + plain + (point == std::string::npos ? "" : s.substr(point))).c_str(), nullptr);
  REQUIRE(std::fabs(shown - value) <= 0.5 * std::pow(10.0, -digits) + 1e-6 + 1e-15 * std::fabs(value));
}

// The pattern rules of the header, matched by plain dynamic programming.
struct Element {
  bool star = false;
  std::string set;  // a one-character element: '?', '#', a literal, or "[...]" as written
};

char Fold(char c, bool cs) { return cs ? c : static_cast<char>(toupper(static_cast<unsigned char>(c))); }

bool ElementMatches(const std::string& e, char c, bool cs) {
  if (e == "?") return true;
  if (e == "#") return isdigit(static_cast<unsigned char>(c)) != 0;
  if (e[0] != '[') return Fold(e[0], cs) == Fold(c, cs);
  size_t p = 1;
  const bool negate = p < e.size() && e[p] == '!';
  if (negate) ++p;
  bool found = false;
  while (p < e.size() && e[p] != ']') {
    char lo = Fold(e[p], cs), hi = lo;
    if (p + 2 < e.size() && e[p + 1] == '-' && e[p + 2] != ']') {
      hi = Fold(e[p + 2], cs);
      p += 3;
    } else {
      ++p;
    }
    if (Fold(c, cs) >= lo && Fold(c, cs) <= hi) found = true;
  }
  return found != negate;
}

bool ReferenceMatch(const std::string& text, const std::string& pattern, bool cs) {
  std::vector<Element> elements;
  for (size_t p = 0; p < pattern.size();) {
    Element e;
    if (pattern[p] == '*') {
      e.star = true;
      ++p;
    } else if (pattern[p] == '[') {
      size_t end = p + 1;
      if (end < pattern.size() && pattern[end] == '!') ++end;
      while (end < pattern.size() && pattern[end] != ']')
        end += end + 2 < pattern.size() && pattern[end + 1] == '-' && pattern[end + 2] != ']' ? 3 : 1;
      end = std::min(end + 1, pattern.size());  // past the ']', or the end of an open set
      e.set = pattern.substr(p, end - p);
      p = end;
    } else {
      e.set = pattern.substr(p++, 1);
    }
    elements.push_back(e);
  }
  // match[j]: the text so far is matched by the first j elements.
  std::vector<char> match(elements.size() + 1, 0), next(elements.size() + 1);
  match[0] = 1;
  for (size_t j = 0; j < elements.size() && elements[j].star; ++j) match[j + 1] = 1;
  for (char c : text) {
    std::fill(next.begin(), next.end(), 0);
    for (size_t j = 0; j < elements.size(); ++j) {
      if (elements[j].star)
        next[j + 1] = next[j] || match[j + 1] || match[j];
      else
        next[j + 1] = match[j] && ElementMatches(elements[j].set, c, cs);
    }
    match.swap(next);
  }
  return match[elements.size()] != 0;
}

void MatchPattern(FuzzedDataProvider& in) {
  const bool cs = in.ConsumeBool();
  const std::string pattern = CText(in.ConsumeRandomLengthString(64));
  const std::string text = CText(in.ConsumeRandomLengthString(2000));
  const bool got = CUtilityMOX::MatchPattern(text.c_str(), pattern.c_str(), cs);
  // The reference is quadratic: long texts are judged on time alone (the fuzzer's time-out).
  if (text.size() <= 200) REQUIRE(got == ReferenceMatch(text, pattern, cs));
}

bool SameTime(const SystemTime& a, const SystemTime& b) {
  return a.year == b.year && a.month == b.month && a.day == b.day && a.hour == b.hour && a.minute == b.minute &&
         a.second == b.second && a.milliseconds == b.milliseconds;
}

bool RealDate(const SystemTime& t) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (t.year % 4 == 0 && t.year % 100 != 0) || t.year % 400 == 0;
  return t.day <= kDays[t.month - 1] + (t.month == 2 && leap ? 1 : 0);
}

// Days since the epoch as a line of time: before the epoch the fraction
// counts away from zero.
double Moment(double ole) { return std::trunc(ole) + std::fabs(ole - std::trunc(ole)); }

void OleDates(FuzzedDataProvider& in) {
  double value;
  uint64_t bits = in.ConsumeIntegral<uint64_t>();
  memcpy(&value, &bits, sizeof value);
  if (in.ConsumeBool()) value = in.ConsumeFloatingPointInRange<double>(-700000.0, 3000000.0);
  SystemTime t;
  if (CUtilityMOX::VariantToSystemTime(value, &t)) {
    REQUIRE(t.year >= 100 && t.year <= 9999 && t.month >= 1 && t.month <= 12 && t.day >= 1 && RealDate(t));
    REQUIRE(t.hour < 24 && t.minute < 60 && t.second < 60 && t.milliseconds < 1000 && t.dayOfWeek < 7);
    double back = 0;
    REQUIRE(CUtilityMOX::SystemTimeToVariant(t, &back));
    SystemTime again;
    REQUIRE(CUtilityMOX::VariantToSystemTime(back, &again) && SameTime(t, again) && t.dayOfWeek == again.dayOfWeek);
    // The same moment to the millisecond, however it is written: (-1, 0) names
    // the times of [0, 1), and a negative day carried to midnight its next day.
    REQUIRE(std::fabs(Moment(back) - Moment(value)) <= 0.6 / 86400000.0 + 1e-15 * std::fabs(value));
  }
  SystemTime f;
  f.year = in.ConsumeIntegral<uint16_t>();
  f.month = in.ConsumeIntegralInRange<uint16_t>(0, 13);
  f.day = in.ConsumeIntegralInRange<uint16_t>(0, 32);
  f.hour = in.ConsumeIntegralInRange<uint16_t>(0, 24);
  f.minute = in.ConsumeIntegralInRange<uint16_t>(0, 60);
  f.second = in.ConsumeIntegralInRange<uint16_t>(0, 60);
  f.milliseconds = in.ConsumeIntegralInRange<uint16_t>(0, 1000);
  // The time texts carry every field, whatever its value.
  int y, mo, d, h, mi, se, ms;
  REQUIRE(sscanf(CUtilityMOX::FormatTimeStamp(f).c_str(), "%d-%d-%d %d:%d:%d.%d", &y, &mo, &d, &h, &mi, &se, &ms) == 7);
  REQUIRE(y == f.year && mo == f.month && d == f.day && h == f.hour && mi == f.minute && se == f.second &&
          ms == f.milliseconds);
  REQUIRE(sscanf(CUtilityMOX::FormatTimeOfDay(f).c_str(), "%d:%d:%d.%d", &h, &mi, &se, &ms) == 4);
  REQUIRE(h == f.hour && mi == f.minute && se == f.second && ms == f.milliseconds);
  if (f.year <= 9999 && f.month < 100 && f.day < 100 && f.hour < 100 && f.minute < 100 && f.second < 100)
    REQUIRE(CUtilityMOX::FormatFileTimeStamp(f).size() == 15);
  double v = 0;
  if (!CUtilityMOX::SystemTimeToVariant(f, &v)) return;
  SystemTime g;
  REQUIRE(CUtilityMOX::VariantToSystemTime(v, &g));
  if (RealDate(f)) REQUIRE(SameTime(f, g));
}

void LibraryHex(FuzzedDataProvider& in) {
  const std::vector<uint8_t> source = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(0, 250));
  const int32_t length = static_cast<int32_t>(source.size());
  std::unique_ptr<uint8_t[]> bytes(new uint8_t[source.size() + 1]);
  if (length) memcpy(bytes.get(), source.data(), source.size());
  std::unique_ptr<char[]> text(new char[2 * source.size() + 1]);  // the documented size
  REQUIRE(ZARN_BinToStr(text.get(), bytes.get(), length) == ZARN_OK && strlen(text.get()) == 2 * source.size());
  std::unique_ptr<uint8_t[]> data(new uint8_t[250]);  // the documented size
  REQUIRE(ZARN_StrToBin(text.get(), data.get()) == ZARN_OK);
  if (length) REQUIRE(memcmp(data.get(), source.data(), source.size()) == 0);
  // Any text: at most 250 bytes written, whatever it holds.
  const std::string any = in.ConsumeRandomLengthString(600);
  auto anyText = Text(any);
  REQUIRE(ZARN_StrToBin(anyText.get(), data.get()) == ZARN_OK);
}

void ModulePath(FuzzedDataProvider& in) {
  const std::string path = in.ConsumeRandomLengthString(400);
  std::unique_ptr<char[]> out[5];
  for (auto& o : out) o.reset(new char[utility::kNameField]);
  utility::SplitModulePath(path.c_str(), out[0].get(), out[1].get(), out[2].get(), out[3].get(), out[4].get());
  for (auto& o : out) REQUIRE(strnlen(o.get(), utility::kNameField) < utility::kNameField);
  // drive + folder + base name + extension is the path, when nothing had to be cut.
  if (path.size() < utility::kNameField && strlen(path.c_str()) == path.size()) {
    REQUIRE(std::string(out[0].get()) + out[1].get() + out[2].get() + out[3].get() == path);
    REQUIRE(std::string(out[1].get()) + out[2].get() == out[4].get());
  }
}

// The Windows C runtime's splitting of one quoted argument.
bool UnquoteWindows(const std::string& q, std::string* out) {
  if (q.size() < 2 || q[0] != '"') return false;
  size_t i = 1;
  out->clear();
  while (i < q.size()) {
    size_t slashes = 0;
    while (i < q.size() && q[i] == '\\') ++slashes, ++i;
    if (i < q.size() && q[i] == '"') {
      out->append(slashes / 2, '\\');
      if (slashes % 2 == 0) return i + 1 == q.size();  // the closing quote ends the whole text
      *out += '"';
      ++i;
    } else {
      out->append(slashes, '\\');
      if (i < q.size()) *out += q[i++];
    }
  }
  return false;
}

void CommandLineArguments(FuzzedDataProvider& in) {
  const std::string argument = in.ConsumeRandomLengthString(100);
  std::string back;
  REQUIRE(UnquoteWindows(utility::QuoteWindowsArgument(argument), &back) && back == argument);
  if (utility::AdapterNameAccepted(argument.c_str())) {
    REQUIRE(!CText(argument).empty());
    for (unsigned char c : CText(argument)) REQUIRE(c >= 0x20 && c != 0x7F && c != '"' && c != '%' && c != '!');
  }
  const std::string base = in.ConsumeRandomLengthString(300);
  const std::string key = utility::KeyName(base, argument.c_str());
  REQUIRE(key.size() <= utility::kKeyLimit && (base + "\\" + argument.c_str()).compare(0, key.size(), key) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  switch (in.ConsumeIntegralInRange<int>(0, 9)) {
    case 0: HexToBytes(in); break;
    case 1: HexStringToBytes(in); break;
    case 2: BytesToHex(in); break;
    case 3: ParseByteList(in); break;
    case 4: FormatNumber(in); break;
    case 5: MatchPattern(in); break;
    case 6: OleDates(in); break;
    case 7: LibraryHex(in); break;
    case 8: ModulePath(in); break;
    default: CommandLineArguments(in); break;
  }
  return 0;
}
