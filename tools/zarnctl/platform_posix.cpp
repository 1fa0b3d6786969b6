// The portable helper on POSIX systems.
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <pthread.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "platform.h"

namespace zarnctl {
namespace platform {

namespace {

std::atomic<int> g_interrupts{0};
std::atomic<bool> g_handled{false};
std::atomic<bool> g_rawActive{false};
termios g_savedTerminal;

void RestoreTerminal() {
  if (g_rawActive.exchange(false)) tcsetattr(STDIN_FILENO, TCSANOW, &g_savedTerminal);
}

}  // namespace

void PrepareConsole() {}

bool IsTerminal(Stream stream) {
  const int fd = stream == Stream::kIn ? STDIN_FILENO : stream == Stream::kOut ? STDOUT_FILENO : STDERR_FILENO;
  return isatty(fd) == 1;
}

void CatchInterrupts() {
  // Blocked here before any thread starts, so every later thread inherits the
  // mask and only the waiter below ever takes the signals.
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  std::thread([set] {
    for (;;) {
      int signal = 0;
      if (sigwait(&set, &signal) != 0) continue;
      g_interrupts.fetch_add(1);
      if (!g_handled.load()) {
        RestoreTerminal();
        _exit(130);
      }
    }
  }).detach();
}

int Interrupts() { return g_interrupts.load(); }
void ResetInterrupts() { g_interrupts.store(0); }
void SetInterruptsHandled(bool handled) { g_handled.store(handled); }

PortClaim::~PortClaim() {
  if (handle_ >= 0) close(handle_);  // also releases the lock
}

PortState PortClaim::Claim(const std::string& name, std::string* detail) {
  if (name.empty() || name[0] != '/') return PortState::kOk;
  const int fd = open(name.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    const int error = errno;
    *detail = strerror(error);
    switch (error) {
      case ENOENT:
      case ENOTDIR:
      case ENXIO:
      case ENODEV: return PortState::kMissing;
      case EACCES:
      case EPERM:
      case EROFS: return PortState::kPermission;
      case EBUSY: return PortState::kBusy;
      default: return PortState::kOther;
    }
  }
  if (!isatty(fd)) {
    *detail = strerror(ENOTTY);
    close(fd);
    return PortState::kNotSerial;
  }
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    *detail = errno == EWOULDBLOCK ? "locked by another program" : strerror(errno);
    close(fd);
    return PortState::kBusy;
  }
  handle_ = fd;
  return PortState::kOk;
}

std::string PortHint(PortState state) {
  switch (state) {
    case PortState::kMissing: return "check the device name and that the adapter is plugged in (ls /dev/tty*)";
    case PortState::kPermission:
      return "add your user to the group that owns the device (often dialout) and log in again";
    case PortState::kNotSerial: return "give the serial adapter's device, e.g. /dev/ttyUSB0";
    default: return "";
  }
}

bool ResolveIPv4(const std::string& host, std::string* dotted, std::string* error) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* found = nullptr;
  const int rc = getaddrinfo(host.c_str(), nullptr, &hints, &found);
  if (rc != 0 || !found) {
    *error = rc != 0 ? gai_strerror(rc) : "no IPv4 address";
    return false;
  }
  char text[INET_ADDRSTRLEN] = "";
  const sockaddr_in* address = reinterpret_cast<const sockaddr_in*>(found->ai_addr);
  const bool ok = inet_ntop(AF_INET, &address->sin_addr, text, sizeof text) != nullptr;
  freeaddrinfo(found);
  if (!ok) {
    *error = strerror(errno);
    return false;
  }
  *dotted = text;
  return true;
}

RawTerminal::~RawTerminal() { Leave(); }

bool RawTerminal::Enter() {
  if (active_) return true;
  termios raw;
  if (tcgetattr(STDIN_FILENO, &g_savedTerminal) != 0) return false;
  raw = g_savedTerminal;
  // Keys one by one, no echo, Ctrl+C as a key; output processing stays on.
  raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ISIG | IEXTEN);
  raw.c_iflag &= ~static_cast<tcflag_t>(IXON | ICRNL | INLCR | BRKINT | ISTRIP);
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  // TCSANOW keeps what was typed ahead while the last command ran.
  if (tcsetattr(STDIN_FILENO, TCSANOW, &raw) != 0) return false;
  g_rawActive = true;
  active_ = true;
  return true;
}

void RawTerminal::Leave() {
  if (!active_) return;
  RestoreTerminal();
  active_ = false;
}

int RawTerminal::ReadByte() {
  for (;;) {
    unsigned char c = 0;
    const ssize_t n = read(STDIN_FILENO, &c, 1);
    if (n == 1) return c;
    if (n < 0 && errno == EINTR) continue;
    return -1;
  }
}

}  // namespace platform
}  // namespace zarnctl
