// posix serial device: termios raw mode, exclusive use (TIOCEXCL and flock),
// poll-based waiting with a wake pipe, FIONREAD for the input count,
// TIOCGICOUNT counters for line errors.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <string.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#if defined(__linux__)
#include <linux/serial.h>
#endif

#include <new>

#include "platform/platform.h"
#include "platform/posix/wake_pipe.h"

namespace zarn {
namespace platform {

bool SetArbitraryBaud(int fd, uint32_t baud);

namespace {

speed_t StandardSpeed(uint32_t baud) {
  switch (baud) {
    case 50: return B50;
    case 75: return B75;
    case 110: return B110;
    case 134: return B134;
    case 150: return B150;
    case 200: return B200;
    case 300: return B300;
    case 600: return B600;
    case 1200: return B1200;
    case 1800: return B1800;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
#ifdef B460800
    case 460800: return B460800;
    case 500000: return B500000;
    case 576000: return B576000;
    case 921600: return B921600;
    case 1000000: return B1000000;
#endif
    default: return 0;
  }
}

int64_t NowMs() { return static_cast<int64_t>(TickCount()); }

void TraceOpenFailure(const char* path, const char* what, int error) {
  char text[400];
  snprintf(text, sizeof text, "virtualserial: %s %.300s: %s", what, path, strerror(error));
  DebugTrace(text);
}

}  // namespace

struct SerialDevice::Impl {
  int fd = -1;
  uint32_t baud = 0;
  WakePipe wake;
#if defined(__linux__)
  serial_icounter_struct counters{};
  bool haveCounters = false;
#endif
};

SerialDevice::SerialDevice() : impl_(nullptr) {}
SerialDevice::~SerialDevice() { Close(); }

bool SerialDevice::IsOpen() const { return impl_ != nullptr; }

bool SerialDevice::Open(const char* name, unsigned portNumber, uint32_t baud, uint8_t parity, uint8_t byteSize,
                        uint8_t stopBits) {
  if (impl_) return true;
  char path[256];
  if (name && name[0] == '/') {
    // A longer name is refused, not cut: the shorter one may name another device.
    if (strlen(name) >= sizeof path) {
      TraceOpenFailure(name, "device name too long:", ENAMETOOLONG);
      return false;
    }
    snprintf(path, sizeof path, "%s", name);
  } else if (portNumber >= 1) {
    snprintf(path, sizeof path, "/dev/ttyS%u", portNumber - 1);
  } else {
    return false;
  }
  int fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    TraceOpenFailure(path, "cannot open", errno);
    return false;
  }
  // The line is ours alone: TIOCEXCL keeps out programs that open it without
  // asking, the advisory lock those that ask first (and the superuser, whom
  // TIOCEXCL lets through).
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    TraceOpenFailure(path, errno == EWOULDBLOCK ? "busy, another program holds" : "cannot lock", errno);
    close(fd);
    return false;
  }
  if (ioctl(fd, TIOCEXCL) != 0) {
    TraceOpenFailure(path, "cannot hold exclusively", errno);
    close(fd);
    return false;
  }

  termios tio;
  if (tcgetattr(fd, &tio) != 0) {
    close(fd);
    return false;
  }
  cfmakeraw(&tio);  // no echo, no canonical input, no end-of-file processing
  tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | INPCK | IGNPAR | PARMRK);
  tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
#ifdef CMSPAR
  tio.c_cflag &= ~static_cast<tcflag_t>(CMSPAR);
#endif
  tio.c_cflag |= CLOCAL | CREAD;
  switch (byteSize) {
    case 5: tio.c_cflag |= CS5; break;
    case 6: tio.c_cflag |= CS6; break;
    case 7: tio.c_cflag |= CS7; break;
    default: tio.c_cflag |= CS8; break;
  }
  if (parity != 0) {
    tio.c_cflag |= PARENB;
    tio.c_iflag |= INPCK;
    if (parity == 1 || parity == 3) tio.c_cflag |= PARODD;
#ifdef CMSPAR
    if (parity == 3 || parity == 4) tio.c_cflag |= CMSPAR;
#endif
  }
  if (stopBits != 0) tio.c_cflag |= CSTOPB;
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  speed_t speed = StandardSpeed(baud);
  if (speed != 0) {
    cfsetispeed(&tio, speed);
    cfsetospeed(&tio, speed);
  }
  if (tcsetattr(fd, TCSANOW, &tio) != 0) {
    close(fd);
    return false;
  }
  if (speed == 0 && !SetArbitraryBaud(fd, baud)) {
    close(fd);
    return false;
  }
  int rts = TIOCM_RTS;
  ioctl(fd, TIOCMBIC, &rts);  // RTS held off; a pseudo-terminal has no modem lines
  tcflush(fd, TCIOFLUSH);

  Impl* impl = new (std::nothrow) Impl;
  if (!impl || !impl->wake.Create()) {
    delete impl;
    close(fd);
    return false;
  }
  impl->fd = fd;
  impl->baud = baud;
#if defined(__linux__)
  impl->haveCounters = ioctl(fd, TIOCGICOUNT, &impl->counters) == 0;
#endif
  impl_ = impl;
  return true;
}

void SerialDevice::Close() {
  if (!impl_) return;
  ioctl(impl_->fd, TIOCNXCL);
  close(impl_->fd);  // also releases the advisory lock
  delete impl_;
  impl_ = nullptr;
}

SerialDevice::WaitResult SerialDevice::WaitForInput() {
  if (!impl_) return kFailed;
  pollfd fds[2];
  fds[0] = pollfd{impl_->fd, POLLIN, 0};
  fds[1] = pollfd{impl_->wake.ReadEnd(), POLLIN, 0};
  // No time-out: an idle line costs nothing; Close wakes the reader.
  int n = poll(fds, 2, -1);
  if (n < 0) return errno == EINTR ? kFailed : (SleepMs(10), kFailed);
  if (fds[1].revents & POLLIN) {
    impl_->wake.Drain();
    return kWoken;
  }
  // A hung-up line reports input too (POLLIN with POLLHUP) that reads as
  // nothing: it is no input, and it does not go away.
  if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) return kHungUp;
  if (fds[0].revents & POLLIN) return kInput;
  return kFailed;
}

void SerialDevice::WaitForWake() {
  if (!impl_) return;
  pollfd p{impl_->wake.ReadEnd(), POLLIN, 0};
  while (poll(&p, 1, -1) < 0 && errno == EINTR) {
  }
  impl_->wake.Drain();
}

bool SerialDevice::ClearErrors(uint32_t* errors, uint32_t* inQueue) {
  uint32_t flags = 0;
  *errors = 0;
  *inQueue = 0;
  if (!impl_) return false;
  int waiting = 0;
  if (ioctl(impl_->fd, FIONREAD, &waiting) != 0) return false;
#if defined(__linux__)
  if (impl_->haveCounters) {
    serial_icounter_struct now{};
    if (ioctl(impl_->fd, TIOCGICOUNT, &now) == 0) {
      if (now.frame != impl_->counters.frame) flags |= kLineErrorFrame;
      if (now.parity != impl_->counters.parity) flags |= kLineErrorParity;
      if (now.overrun != impl_->counters.overrun || now.buf_overrun != impl_->counters.buf_overrun)
        flags |= kLineErrorOverrun;
      if (now.brk != impl_->counters.brk) flags |= kLineErrorBreak;
      impl_->counters = now;
    }
  }
#endif
  *errors = flags;
  if (waiting > 0) *inQueue = static_cast<uint32_t>(waiting);
  return true;
}

int32_t SerialDevice::Read(uint8_t* buffer, uint32_t n) {
  if (!impl_) return -1;
  ssize_t got = read(impl_->fd, buffer, n);
  if (got < 0) return -1;
  return static_cast<int32_t>(got);
}

int32_t SerialDevice::Write(const uint8_t* buffer, uint32_t n) {
  if (!impl_) return -1;
  const int64_t deadline = NowMs() + SerialWriteTimeoutMs(impl_->baud, n);
  uint32_t done = 0;
  while (done < n) {
    ssize_t put = write(impl_->fd, buffer + done, n - done);
    if (put > 0) {
      done += static_cast<uint32_t>(put);
      continue;
    }
    if (put < 0 && errno != EAGAIN && errno != EINTR) break;
    int64_t left = deadline - NowMs();
    if (left <= 0) break;
    pollfd p{impl_->fd, POLLOUT, 0};
    poll(&p, 1, static_cast<int>(left));
  }
  tcdrain(impl_->fd);
  return static_cast<int32_t>(done);
}

void SerialDevice::Purge() {
  if (impl_) tcflush(impl_->fd, TCIOFLUSH);
}

void SerialDevice::PurgeInput() {
  if (impl_) tcflush(impl_->fd, TCIFLUSH);
}

void SerialDevice::Wake() {
  if (impl_) impl_->wake.Signal();
}

}  // namespace platform
}  // namespace zarn
