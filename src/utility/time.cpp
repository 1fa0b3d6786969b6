// CUtilityMOX's time texts and OLE automation dates (days since 30 December
// 1899; before that day the time of day counts away from zero, so -1.25 is
// 29 December 1899, 06:00).
#include <cmath>
#include <cstdio>

#include "zarn/utilitymox.h"

namespace zarn {

namespace {

constexpr double kMillisecondsPerDay = 86400000.0;
constexpr double kMillisecondInDays = 1.1574074074e-8;

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

}  // namespace

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

bool CUtilityMOX::SystemTimeToVariant(const SystemTime& t, double* out) {
  if (!out || t.month < 1 || t.month > 12 || t.day < 1 || t.day > 31 || t.hour > 23 || t.minute > 59 || t.second > 59 ||
      t.milliseconds > 999 || t.year > 9999 || t.year < 100)
    return false;
  const long days = DaysFromCivil(t.year, t.month, t.day) - kOleEpoch;
  const double timeOfDay =
      (t.hour * 3600.0 + t.minute * 60.0 + t.second) / 86400.0 + t.milliseconds * kMillisecondInDays;
  *out = days >= 0 ? days + timeOfDay : days - timeOfDay;
  return true;
}

// To the nearest millisecond; a time that rounds up to midnight is the start
// of the next calendar day.
bool CUtilityMOX::VariantToSystemTime(double value, SystemTime* out) {
  if (!out || !(value > -657435.0 && value < 2958466.0)) return false;  // years 100 to 9999
  const double whole = std::trunc(value);
  long days = static_cast<long>(whole);  // the calendar day, either side of the epoch
  long long milliseconds = std::llround(std::fabs(value - whole) * kMillisecondsPerDay);
  if (milliseconds >= 86400000) {
    milliseconds -= 86400000;
    ++days;
  }
  int y;
  unsigned m, d;
  CivilFromDays(days + kOleEpoch, &y, &m, &d);
  if (y > 9999) return false;
  SystemTime t;
  t.year = static_cast<uint16_t>(y);
  t.month = static_cast<uint16_t>(m);
  t.day = static_cast<uint16_t>(d);
  t.dayOfWeek = static_cast<uint16_t>(((days + kOleEpoch) % 7 + 11) % 7);  // 1970-01-01 was a Thursday
  const long seconds = static_cast<long>(milliseconds / 1000);
  t.hour = static_cast<uint16_t>(seconds / 3600);
  t.minute = static_cast<uint16_t>(seconds / 60 % 60);
  t.second = static_cast<uint16_t>(seconds % 60);
  t.milliseconds = static_cast<uint16_t>(milliseconds % 1000);
  *out = t;
  return true;
}

}  // namespace zarn
