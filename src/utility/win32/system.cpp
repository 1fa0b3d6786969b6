// CUtilityMOX's system information, displays, screen capture, identifiers,
// error texts and the millisecond timer on Windows.
#include <winsock2.h>
#include <windows.h>
#include <mmsystem.h>
#include <objbase.h>
#include <setupapi.h>

#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "utility/os.h"
#include "utility/utility_internal.h"
#include "zarn/utilitymox.h"

namespace zarn {

namespace {

// The periodic timer of one CUtilityMOX: its id, its period and its ticks.
struct MillisecondTimer {
  UINT id = 0;
  UINT period = 0;
  volatile LONG64 ticks = 0;
};

void CALLBACK TimerTick(UINT, UINT, DWORD_PTR timer, DWORD_PTR, DWORD_PTR) {
  InterlockedIncrement64(&reinterpret_cast<MillisecondTimer*>(timer)->ticks);
}

// Kills the timer (no tick runs after this) and ends its timer period.
void StopTimer(MillisecondTimer* timer) {
  if (!timer || !timer->id) return;
  timeKillEvent(timer->id);
  timeEndPeriod(timer->period);
  timer->id = 0;
}

}  // namespace

std::string utility::ModuleFileName() {
  char exe[kNameField] = "";
  GetModuleFileNameA(nullptr, exe, sizeof exe);
  return exe;
}

CUtilityMOX::~CUtilityMOX() {
  MillisecondTimer* timer = static_cast<MillisecondTimer*>(timer_);
  StopTimer(timer);
  delete timer;
}

SystemTime CUtilityMOX::LocalNow() {
  SYSTEMTIME s;
  GetLocalTime(&s);
  SystemTime t;
  t.year = s.wYear;
  t.month = s.wMonth;
  t.dayOfWeek = s.wDayOfWeek;
  t.day = s.wDay;
  t.hour = s.wHour;
  t.minute = s.wMinute;
  t.second = s.wSecond;
  t.milliseconds = s.wMilliseconds;
  return t;
}

std::string CUtilityMOX::GetOsName(int* major, int* minor) {
  OSVERSIONINFOEXA v;
  memset(&v, 0, sizeof v);
  v.dwOSVersionInfoSize = sizeof v;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  if (!GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&v))) return "";
#pragma GCC diagnostic pop
  if (major) *major = static_cast<int>(v.dwMajorVersion);
  if (minor) *minor = static_cast<int>(v.dwMinorVersion);
  const std::string name =
      OsNameFor(static_cast<int>(v.dwMajorVersion), static_cast<int>(v.dwMinorVersion),
                v.wProductType == VER_NT_WORKSTATION, GetSystemMetrics(SM_SERVERR2) != 0, (v.wSuiteMask & 0x8000) != 0);
  if (name.empty() && (v.dwMajorVersion == 5 || (v.dwMajorVersion == 6 && v.dwMinorVersion >= 4))) {
    char text[96];
    snprintf(text, sizeof text, "Can't find version name of dwMiniorVersion: %d", static_cast<int>(v.dwMinorVersion));
    MessageBoxA(nullptr, text, "zarn", MB_OK | MB_APPLMODAL);
  }
  return name;
}

bool CUtilityMOX::IsWow64() {
  typedef BOOL(WINAPI * IsWow64ProcessFn)(HANDLE, PBOOL);
  HMODULE kernel = GetModuleHandleA("kernel32");
  IsWow64ProcessFn fn =
      kernel ? reinterpret_cast<IsWow64ProcessFn>(reinterpret_cast<void*>(GetProcAddress(kernel, "IsWow64Process")))
             : nullptr;
  BOOL wow = FALSE;
  return fn && fn(GetCurrentProcess(), &wow) && wow;
}

int CUtilityMOX::GetLocalAddresses() {
  addressCount_ = 0;
  WSADATA data;
  if (WSAStartup(MAKEWORD(1, 0), &data) != 0) {
    OutputDebugStringA("Get LocalIP Error!");
    return 0;
  }
  char host[128] = "";
  hostent* entry = gethostname(host, sizeof host) == 0 ? gethostbyname(host) : nullptr;
  if (!entry) {
    OutputDebugStringA("Get LocalIP Error!");
  } else {
    for (int i = 0; entry->h_addr_list[i] && addressCount_ < 4; ++i) {
      in_addr a;
      memcpy(&a, entry->h_addr_list[i], sizeof a);
      snprintf(addressTexts_[addressCount_], sizeof addressTexts_[0], "%s", inet_ntoa(a));
      ++addressCount_;
    }
  }
  WSACleanup();
  return addressCount_;
}

int CUtilityMOX::EnumDisplays() {
  displays_[0] = displays_[1] = Rect();
  typedef BOOL(WINAPI * EnumDevicesFn)(LPCSTR, DWORD, PDISPLAY_DEVICEA, DWORD);
  HMODULE user = GetModuleHandleA("USER32");
  EnumDevicesFn fn =
      user ? reinterpret_cast<EnumDevicesFn>(reinterpret_cast<void*>(GetProcAddress(user, "EnumDisplayDevicesA")))
           : nullptr;
  if (!fn) return 0;
  int count = GetSystemMetrics(SM_CMONITORS);
  if (count > 2) count = 2;
  int found = 0;
  for (int i = 0; i < count; ++i) {
    DISPLAY_DEVICEA device;
    memset(&device, 0, sizeof device);
    device.cb = sizeof device;
    if (!fn(nullptr, static_cast<DWORD>(i), &device, 0)) break;
    DEVMODEA mode;
    memset(&mode, 0, sizeof mode);
    mode.dmSize = sizeof mode;
    if (!EnumDisplaySettingsA(device.DeviceName, ENUM_CURRENT_SETTINGS, &mode)) continue;
    displays_[i].left = mode.dmPosition.x;
    displays_[i].top = mode.dmPosition.y;
    displays_[i].right = mode.dmPosition.x + static_cast<long>(mode.dmPelsWidth);
    displays_[i].bottom = mode.dmPosition.y + static_cast<long>(mode.dmPelsHeight);
    ++found;
  }
  return found;
}

bool CUtilityMOX::GetVirtualScreen(Rect* out) {
  if (!out) return false;
  out->left = GetSystemMetrics(SM_XVIRTUALSCREEN);
  out->top = GetSystemMetrics(SM_YVIRTUALSCREEN);
  out->right = GetSystemMetrics(SM_CXVIRTUALSCREEN);
  out->bottom = GetSystemMetrics(SM_CYVIRTUALSCREEN);
  return true;
}

bool CUtilityMOX::GetFontCharSize(UtilityHandle dc, UtilityHandle font, int* width, int* height) {
  if (!dc || !font || !width || !height) return false;
  static const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
  HDC hdc = static_cast<HDC>(dc);
  HGDIOBJ old = SelectObject(hdc, static_cast<HFONT>(font));
  SIZE extent;
  TEXTMETRICA metrics;
  const BOOL ok = GetTextExtentPoint32A(hdc, kLetters, 52, &extent) && GetTextMetricsA(hdc, &metrics);
  SelectObject(hdc, old);
  if (!ok) return false;
  *width = (extent.cx / 26 + 1) / 2;
  *height = metrics.tmHeight;
  return true;
}

void CUtilityMOX::TrimWorkingSet() {
  SetProcessWorkingSetSize(GetCurrentProcess(), static_cast<SIZE_T>(-1), static_cast<SIZE_T>(-1));
}

std::string CUtilityMOX::GetFileVersionText(const char* query) {
  if (!query) return "";
  char file[512];
  snprintf(file, sizeof file, "%s%s", baseName_, extension_);
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(file, &ignored);
  if (size == 0) return "";
  std::vector<char> data(size);
  if (!GetFileVersionInfoA(file, 0, size, data.data())) return "";
  struct Translation {
    WORD language, codePage;
  }* translation = nullptr;
  UINT length = 0;
  if (!VerQueryValueA(data.data(), "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &length) ||
      length < sizeof(Translation))
    return "";
  char path[256];
  snprintf(path, sizeof path, query, translation->language, translation->codePage);
  char* value = nullptr;
  if (!VerQueryValueA(data.data(), path, reinterpret_cast<void**>(&value), &length) || !value) return "";
  return std::string(value, strnlen(value, length));
}

void CUtilityMOX::ListDevices(char* out) {
  if (!out) return;
  out[0] = '\0';
  HDEVINFO set = SetupDiGetClassDevsA(nullptr, nullptr, nullptr, 14);  // all classes, present
  if (set == INVALID_HANDLE_VALUE) return;
  size_t used = 0;
  SP_DEVINFO_DATA device;
  device.cbSize = sizeof device;
  for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &device); ++i) {
    char cls[256] = "", description[256] = "", friendly[256] = "";
    SetupDiGetClassDescriptionA(&device.ClassGuid, cls, sizeof cls, nullptr);
    SetupDiGetDeviceRegistryPropertyA(set, &device, SPDRP_DEVICEDESC, nullptr, reinterpret_cast<BYTE*>(description),
                                      sizeof description, nullptr);
    SetupDiGetDeviceRegistryPropertyA(set, &device, SPDRP_FRIENDLYNAME, nullptr, reinterpret_cast<BYTE*>(friendly),
                                      sizeof friendly, nullptr);
    const std::string entry = std::string(cls) + " | " + description + " | " + friendly + ",";
    if (used + entry.size() >= 1024) break;
    memcpy(out + used, entry.c_str(), entry.size() + 1);
    used += entry.size();
  }
  SetupDiDestroyDeviceInfoList(set);
}

bool CUtilityMOX::CaptureScreen(const char* path) {
  const char* file = path ? path : "C:\\Temp\\capture.bmp";
  const int width = GetSystemMetrics(SM_CXSCREEN), height = GetSystemMetrics(SM_CYSCREEN);
  if (width <= 0 || height <= 0) return false;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, 0, 0, SRCCOPY);
  SelectObject(memory, old);
  const DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
  const DWORD pixels = stride * static_cast<DWORD>(height);
  std::vector<BYTE> data(pixels);
  BITMAPINFOHEADER info;
  memset(&info, 0, sizeof info);
  info.biSize = sizeof info;
  info.biWidth = width;
  info.biHeight = height;  // bottom-up
  info.biPlanes = 1;
  info.biBitCount = 24;
  info.biCompression = BI_RGB;
  const int lines = GetDIBits(memory, bitmap, 0, static_cast<UINT>(height), data.data(),
                              reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  if (lines == 0) return false;
  BITMAPFILEHEADER header;
  memset(&header, 0, sizeof header);
  header.bfType = 0x4D42;
  header.bfOffBits = sizeof header + sizeof info;  // 54
  header.bfSize = header.bfOffBits + pixels;
  HANDLE out = CreateFileA(file, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (out == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  BOOL ok = WriteFile(out, &header, sizeof header, &written, nullptr);
  ok = ok && WriteFile(out, &info, sizeof info, &written, nullptr);
  ok = ok && WriteFile(out, data.data(), pixels, &written, nullptr);
  CloseHandle(out);
  return ok != FALSE;
}

std::string CUtilityMOX::MakeGuid() {
  GUID g;
  if (CoCreateGuid(&g) != S_OK) return "";
  return utility::FormatGuid(g.Data1, g.Data2, g.Data3, g.Data4);
}

void CUtilityMOX::TraceSocketError(const char* text) {
  char message[2048] = "";
  FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, WSAGetLastError(), 0x0400,
                 message, sizeof message, nullptr);
  char line[2048];
  snprintf(line, sizeof line, "%s. %s", text ? text : "", message);
  OutputDebugStringA(line);
}

void CUtilityMOX::GetLastErrorText(char* out, int size) {
  if (!out || size <= 0) return;
  const DWORD e = GetLastError();
  out[0] = '\0';
  if (e == 0) return;
  char message[1024] = "";
  FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, e, 0x0400, message,
                 sizeof message, nullptr);
  snprintf(out, static_cast<size_t>(size), "%s", message);
}

bool CUtilityMOX::StartMillisecondTimer() {
  LARGE_INTEGER f;
  QueryPerformanceFrequency(&f);
  frequency_ = f.QuadPart;
  TIMECAPS caps;
  if (timeGetDevCaps(&caps, sizeof caps) != TIMERR_NOERROR) return false;
  if (!timer_) timer_ = new MillisecondTimer;
  MillisecondTimer* timer = static_cast<MillisecondTimer*>(timer_);
  StopTimer(timer);  // a restart replaces the running timer, never adds a second one
  UINT period = caps.wPeriodMin > 1 ? caps.wPeriodMin : 1;
  if (period > caps.wPeriodMax) period = caps.wPeriodMax;
  timeBeginPeriod(period);
  timer->ticks = 0;
  timer->period = period;
  timer->id = timeSetEvent(period, period, TimerTick, reinterpret_cast<DWORD_PTR>(timer),
                           TIME_PERIODIC | TIME_KILL_SYNCHRONOUS);
  if (!timer->id) timeEndPeriod(period);
  return timer->id != 0;
}

uint64_t CUtilityMOX::MillisecondTicks() const {
  return timer_ ? static_cast<uint64_t>(static_cast<const MillisecondTimer*>(timer_)->ticks) : 0;
}

int64_t CUtilityMOX::ReadPerformanceCounter() {
  LARGE_INTEGER c;
  QueryPerformanceCounter(&c);
  return c.QuadPart;
}

}  // namespace zarn
