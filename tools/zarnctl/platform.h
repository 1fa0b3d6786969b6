// What zarnctl asks of the operating system, behind one portable interface:
// terminals, interrupts, serial-port checks, host names and raw key input.
// platform_posix.cpp and platform_win32.cpp implement it; nothing else in
// zarnctl calls the system.
#pragma once

#include <string>

namespace zarnctl {
namespace platform {

// Call once at start: a console that shows UTF-8 (Windows), put back as it
// was at exit.
void PrepareConsole();

enum class Stream { kIn, kOut, kErr };
// Input: typed at a terminal. Output: a terminal that draws escape sequences
// (progress bars, redrawn lines); false when redirected.
bool IsTerminal(Stream stream);

// Ctrl+C and termination requests (SIGINT, SIGTERM) are counted by a thread
// of their own, so no system call of the library or the tool is cut short.
// Call once, before any other thread starts.
void CatchInterrupts();
int Interrupts();  // since the last reset
void ResetInterrupts();
// While no command handles interrupts (between commands), an interrupt ends
// the process at once with status 130, the terminal restored.
void SetInterruptsHandled(bool handled);

// Why a serial port cannot be used, as the system tells it.
enum class PortState { kOk, kMissing, kPermission, kBusy, kNotSerial, kOther };

// Holds a serial port for as long as it lives, so that a second zarnctl (or a
// program that locks its ports) finds it busy instead of sharing the line. On
// Windows, where a COM port is one program's at a time anyway, it only probes.
class PortClaim {
 public:
  PortClaim() = default;
  ~PortClaim();
  PortClaim(const PortClaim&) = delete;
  PortClaim& operator=(const PortClaim&) = delete;
  // Names the system does not know as a path (COM3 on POSIX) are not checked: kOk.
  PortState Claim(const std::string& name, std::string* detail);

 private:
  int handle_ = -1;
};

// What to try when a port is missing, not allowed or not a serial device, in
// this system's terms.
std::string PortHint(PortState state);

// The dotted IPv4 form of a host name or address; false with *error when the
// name does not resolve to an IPv4 address.
bool ResolveIPv4(const std::string& host, std::string* dotted, std::string* error);

// The terminal in raw mode for the line editor; restored on destruction (and
// on an interrupt that ends the process).
class RawTerminal {
 public:
  RawTerminal() = default;
  ~RawTerminal();
  RawTerminal(const RawTerminal&) = delete;
  RawTerminal& operator=(const RawTerminal&) = delete;
  bool Enter();
  void Leave();
  // One byte of input; -1 at end of input.
  int ReadByte();

 private:
  bool active_ = false;
};

}  // namespace platform
}  // namespace zarnctl
