// CUtilityMOX's system information, identifiers, error texts and timers on
// POSIX systems; what needs a desktop (displays, fonts, screen, version
// resources) answers empty or false here.
#include <arpa/inet.h>
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <malloc.h>
#include <netinet/in.h>
#include <sys/utsname.h>
#include <syslog.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "utility/os.h"
#include "utility/utility_internal.h"
#include "zarn/utilitymox.h"

namespace zarn {

namespace {

int64_t MonotonicNanoseconds() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

}  // namespace

std::string utility::ModuleFileName() {
  char exe[kNameField] = "";
  const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  return std::string(exe, n > 0 ? static_cast<size_t>(n) : 0);
}

CUtilityMOX::~CUtilityMOX() {
  if (console_) CloseConsole();
}

SystemTime CUtilityMOX::LocalNow() {
  timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  tm local;
  localtime_r(&ts.tv_sec, &local);
  SystemTime t;
  t.year = static_cast<uint16_t>(local.tm_year + 1900);
  t.month = static_cast<uint16_t>(local.tm_mon + 1);
  t.dayOfWeek = static_cast<uint16_t>(local.tm_wday);
  t.day = static_cast<uint16_t>(local.tm_mday);
  t.hour = static_cast<uint16_t>(local.tm_hour);
  t.minute = static_cast<uint16_t>(local.tm_min);
  t.second = static_cast<uint16_t>(local.tm_sec > 59 ? 59 : local.tm_sec);
  t.milliseconds = static_cast<uint16_t>(ts.tv_nsec / 1000000);
  return t;
}

std::string CUtilityMOX::GetOsName(int* major, int* minor) {
  utsname u;
  if (uname(&u) != 0) return "";
  int ma = 0, mi = 0;
  sscanf(u.release, "%d.%d", &ma, &mi);
  if (major) *major = ma;
  if (minor) *minor = mi;
  char release[65];
  snprintf(release, sizeof release, "%.*s", static_cast<int>(strcspn(u.release, "-+ ")), u.release);
  return std::string(u.sysname) + " " + release;
}

bool CUtilityMOX::IsWow64() {
  utsname u;
  return sizeof(void*) == 4 && uname(&u) == 0 && strcmp(u.machine, "x86_64") == 0;
}

int CUtilityMOX::GetLocalAddresses() {
  addressCount_ = 0;
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) {
    syslog(LOG_DEBUG, "Get LocalIP Error!");
    return 0;
  }
  // Interfaces that lead somewhere first, loopback last.
  for (int pass = 0; pass < 2; ++pass) {
    for (ifaddrs* a = list; a && addressCount_ < 4; a = a->ifa_next) {
      if (!a->ifa_addr || a->ifa_addr->sa_family != AF_INET) continue;
      const auto* in = reinterpret_cast<const sockaddr_in*>(a->ifa_addr);
      const bool loopback = (ntohl(in->sin_addr.s_addr) >> 24) == 127;
      if (loopback != (pass == 1)) continue;
      inet_ntop(AF_INET, &in->sin_addr, addressTexts_[addressCount_], sizeof addressTexts_[0]);
      ++addressCount_;
    }
  }
  freeifaddrs(list);
  return addressCount_;
}

int CUtilityMOX::EnumDisplays() {
  displays_[0] = displays_[1] = Rect();
  return 0;
}

bool CUtilityMOX::GetVirtualScreen(Rect* out) {
  if (out) *out = Rect();
  return false;
}

bool CUtilityMOX::GetFontCharSize(UtilityHandle, UtilityHandle, int*, int*) { return false; }

void CUtilityMOX::TrimWorkingSet() { malloc_trim(0); }

std::string CUtilityMOX::GetFileVersionText(const char*) { return ""; }

void CUtilityMOX::ListDevices(char* out) {
  if (!out) return;
  out[0] = '\0';
  size_t used = 0;
  const size_t capacity = 1024;
  DIR* classes = opendir("/sys/class");
  if (!classes) return;
  while (dirent* c = readdir(classes)) {
    if (c->d_name[0] == '.') continue;
    const std::string classPath = std::string("/sys/class/") + c->d_name;
    DIR* devices = opendir(classPath.c_str());
    if (!devices) continue;
    while (dirent* d = readdir(devices)) {
      if (d->d_name[0] == '.') continue;
      // The device's driver, where it has one, stands for its description.
      char link[256] = "";
      const ssize_t n = readlink((classPath + "/" + d->d_name + "/device/driver").c_str(), link, sizeof link - 1);
      link[n > 0 ? n : 0] = '\0';
      const char* driver = strrchr(link, '/') ? strrchr(link, '/') + 1 : link;
      const std::string entry = std::string(c->d_name) + " | " + driver + " | " + d->d_name + ",";
      if (used + entry.size() >= capacity) {
        closedir(devices);
        closedir(classes);
        return;
      }
      memcpy(out + used, entry.c_str(), entry.size() + 1);
      used += entry.size();
    }
    closedir(devices);
  }
  closedir(classes);
}

bool CUtilityMOX::CaptureScreen(const char*) { return false; }

std::string CUtilityMOX::MakeGuid() {
  uint8_t b[16] = {};
  const int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
  if (fd >= 0) {
    ssize_t n = read(fd, b, sizeof b);
    (void)n;
    close(fd);
  }
  b[6] = static_cast<uint8_t>((b[6] & 0x0F) | 0x40);  // version 4, as CoCreateGuid makes them
  b[8] = static_cast<uint8_t>((b[8] & 0x3F) | 0x80);
  const uint32_t d1 = uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | b[3];
  return utility::FormatGuid(d1, uint16_t(b[4] << 8 | b[5]), uint16_t(b[6] << 8 | b[7]), b + 8);
}

void CUtilityMOX::TraceSocketError(const char* text) {
  char message[2048];
  snprintf(message, sizeof message, "%s. %s", text ? text : "", strerror(errno));
  syslog(LOG_DEBUG, "%s", message);
}

void CUtilityMOX::GetLastErrorText(char* out, int size) {
  if (!out || size <= 0) return;
  const int e = errno;
  snprintf(out, static_cast<size_t>(size), "%s", e == 0 ? "" : strerror(e));
}

bool CUtilityMOX::StartMillisecondTimer() {
  frequency_ = 1000000000;
  timerStart_ = MonotonicNanoseconds() / 1000000;
  return true;
}

uint64_t CUtilityMOX::MillisecondTicks() const {
  return static_cast<uint64_t>(MonotonicNanoseconds() / 1000000 - timerStart_);
}

int64_t CUtilityMOX::ReadPerformanceCounter() { return MonotonicNanoseconds(); }

}  // namespace zarn
