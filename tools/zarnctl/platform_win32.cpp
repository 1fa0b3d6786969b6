// The portable helper on Windows.
#include <winsock2.h>
#include <ws2tcpip.h>
// after winsock2.h
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "platform.h"

namespace zarnctl {
namespace platform {

namespace {

// The console's virtual-terminal modes by value: older SDK headers lack the names.
constexpr DWORD kVirtualTerminalOutput = 0x0004;  // ENABLE_VIRTUAL_TERMINAL_PROCESSING
constexpr DWORD kVirtualTerminalInput = 0x0200;   // ENABLE_VIRTUAL_TERMINAL_INPUT

std::atomic<int> g_interrupts{0};
std::atomic<bool> g_handled{false};

// What the console was like before zarnctl changed it, put back at exit: the
// console belongs to the shell that started zarnctl.
struct ConsoleState {
  std::mutex lock;
  bool inputRaw = false;
  DWORD inputMode = 0;
  bool outputChanged[2] = {false, false};  // standard output, standard error
  DWORD outputMode[2] = {0, 0};
  UINT codePage = 0;
};
ConsoleState g_console;

HANDLE StandardHandle(Stream stream) {
  return GetStdHandle(stream == Stream::kIn    ? STD_INPUT_HANDLE
                      : stream == Stream::kOut ? STD_OUTPUT_HANDLE
                                               : STD_ERROR_HANDLE);
}

bool IsConsole(HANDLE h) {
  DWORD mode = 0;
  return h != nullptr && h != INVALID_HANDLE_VALUE && GetConsoleMode(h, &mode) != 0;
}

void RestoreConsole() {
  std::lock_guard<std::mutex> hold(g_console.lock);
  if (g_console.inputRaw) SetConsoleMode(StandardHandle(Stream::kIn), g_console.inputMode);
  g_console.inputRaw = false;
  for (int i = 0; i < 2; ++i)
    if (g_console.outputChanged[i])
      SetConsoleMode(StandardHandle(i == 0 ? Stream::kOut : Stream::kErr), g_console.outputMode[i]);
  if (g_console.codePage != 0) SetConsoleOutputCP(g_console.codePage);
}

// Turns on the drawing of escape sequences (cursor moves, line clears) as a
// terminal does, on console output i (0 standard output, 1 standard error):
// Windows 10 and later. Older consoles, files and pipes get none.
bool EnableEscapes(int i) {
  std::lock_guard<std::mutex> hold(g_console.lock);
  HANDLE h = StandardHandle(i == 0 ? Stream::kOut : Stream::kErr);
  DWORD mode = 0;
  if (!IsConsole(h) || !GetConsoleMode(h, &mode)) return false;
  if (mode & kVirtualTerminalOutput) return true;
  if (!SetConsoleMode(h, mode | kVirtualTerminalOutput)) return false;
  g_console.outputChanged[i] = true;
  g_console.outputMode[i] = mode;
  return true;
}

BOOL WINAPI OnConsoleEvent(DWORD type) {
  g_interrupts.fetch_add(1);
  if (!g_handled.load()) {
    RestoreConsole();
    _exit(130);
  }
  // The system ends the process once this returns from a close, logoff or
  // shutdown: leave the command time to stop the axis first (its end ends
  // the process, and this thread with it).
  if (type == CTRL_CLOSE_EVENT || type == CTRL_LOGOFF_EVENT || type == CTRL_SHUTDOWN_EVENT) Sleep(5000);
  return TRUE;
}

// The system's text for an error code, without its line end.
std::string SystemMessage(DWORD code) {
  char text[256] = "";
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text,
                           sizeof text, nullptr);
  while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == ' ' || text[n - 1] == '.')) --n;
  return n > 0 ? std::string(text, n) : "error " + std::to_string(code);
}

}  // namespace

void PrepareConsole() {
  // Texts are UTF-8 (drive names, JSON); the console shows them so while zarnctl runs.
  if (IsConsole(StandardHandle(Stream::kOut)) || IsConsole(StandardHandle(Stream::kErr))) {
    const UINT was = GetConsoleOutputCP();
    if (was != CP_UTF8 && SetConsoleOutputCP(CP_UTF8)) g_console.codePage = was;
  }
  atexit(RestoreConsole);
}

bool IsTerminal(Stream stream) {
  if (stream == Stream::kIn) return IsConsole(StandardHandle(stream));
  static const bool drawn[2] = {EnableEscapes(0), EnableEscapes(1)};
  return drawn[stream == Stream::kOut ? 0 : 1];
}

void CatchInterrupts() {
  // Ctrl+C counts even when zarnctl was started in a new process group, where
  // it begins ignored. The handler runs on a thread of the system's own.
  SetConsoleCtrlHandler(nullptr, FALSE);
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

int Interrupts() { return g_interrupts.load(); }
void ResetInterrupts() { g_interrupts.store(0); }
void SetInterruptsHandled(bool handled) { g_handled.store(handled); }

// A COM port is opened by one program at a time on Windows: the library's own
// open holds it for as long as the connection lives. The claim only finds out
// beforehand why a port cannot be used, and lets go of it at once.
PortClaim::~PortClaim() = default;

PortState PortClaim::Claim(const std::string& name, std::string* detail) {
  const std::string path = name.compare(0, 2, "\\\\") == 0 ? name : "\\\\.\\" + name;
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    *detail = SystemMessage(error);
    switch (error) {
      case ERROR_FILE_NOT_FOUND:
      case ERROR_PATH_NOT_FOUND:
      case ERROR_INVALID_NAME:
      case ERROR_BAD_PATHNAME: return PortState::kMissing;
      case ERROR_ACCESS_DENIED:  // what Windows answers for a port another program has open
      case ERROR_SHARING_VIOLATION:
      case ERROR_BUSY: return PortState::kBusy;
      default: return PortState::kOther;
    }
  }
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  const bool serial = GetCommState(h, &dcb) != 0;
  if (!serial) *detail = SystemMessage(GetLastError());
  CloseHandle(h);
  return serial ? PortState::kOk : PortState::kNotSerial;
}

std::string PortHint(PortState state) {
  switch (state) {
    case PortState::kMissing:
      return "check the port name and that the adapter is plugged in (Device Manager lists the COM ports)";
    case PortState::kPermission: return "run zarnctl as a user allowed to open the port";
    case PortState::kNotSerial: return "give the serial adapter's COM port, e.g. COM3";
    default: return "";
  }
}

bool ResolveIPv4(const std::string& host, std::string* dotted, std::string* error) {
  static const int started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data);
  }();
  if (started != 0) {
    *error = SystemMessage(DWORD(started));
    return false;
  }
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* found = nullptr;
  const int rc = getaddrinfo(host.c_str(), nullptr, &hints, &found);
  if (rc != 0 || !found) {
    *error = rc != 0 ? SystemMessage(DWORD(rc)) : "no IPv4 address";
    return false;
  }
  const auto* address = reinterpret_cast<const sockaddr_in*>(found->ai_addr);
  const auto* b = reinterpret_cast<const unsigned char*>(&address->sin_addr);
  char text[16];
  snprintf(text, sizeof text, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
  freeaddrinfo(found);
  *dotted = text;
  return true;
}

RawTerminal::~RawTerminal() { Leave(); }

bool RawTerminal::Enter() {
  if (active_) return true;
  HANDLE in = StandardHandle(Stream::kIn);
  DWORD mode = 0;
  if (!GetConsoleMode(in, &mode)) return false;
  // Keys one by one, no echo, Ctrl+C as a key; arrows and the like as escape
  // sequences where the console sends them (Windows 10 and later).
  const DWORD raw = mode & ~DWORD(ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT | ENABLE_PROCESSED_INPUT);
  if (!SetConsoleMode(in, raw | kVirtualTerminalInput) && !SetConsoleMode(in, raw)) return false;
  {
    std::lock_guard<std::mutex> hold(g_console.lock);
    g_console.inputMode = mode;
    g_console.inputRaw = true;
  }
  active_ = true;
  return true;
}

void RawTerminal::Leave() {
  if (!active_) return;
  {
    std::lock_guard<std::mutex> hold(g_console.lock);
    if (g_console.inputRaw) SetConsoleMode(StandardHandle(Stream::kIn), g_console.inputMode);
    g_console.inputRaw = false;
  }
  active_ = false;
}

int RawTerminal::ReadByte() {
  unsigned char c = 0;
  DWORD n = 0;
  if (!ReadFile(StandardHandle(Stream::kIn), &c, 1, &n, nullptr) || n != 1) return -1;
  return c;
}

}  // namespace platform
}  // namespace zarnctl
