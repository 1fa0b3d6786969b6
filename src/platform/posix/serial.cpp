// posix serial device: termios raw mode, poll-based waiting with a wake pipe,
// FIONREAD for the input count, TIOCGICOUNT counters for line errors.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#if defined(__linux__)
#include <linux/serial.h>
#endif

#include <new>

#include "platform/platform.h"

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

}  // namespace

struct SerialDevice::Impl {
  int fd = -1;
  int wake[2] = {-1, -1};
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
    snprintf(path, sizeof path, "%s", name);
  } else if (portNumber >= 1) {
    snprintf(path, sizeof path, "/dev/ttyS%u", portNumber - 1);
  } else {
    return false;
  }
  int fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;

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
  if (!impl || pipe2(impl->wake, O_NONBLOCK | O_CLOEXEC) != 0) {
    delete impl;
    close(fd);
    return false;
  }
  impl->fd = fd;
#if defined(__linux__)
  impl->haveCounters = ioctl(fd, TIOCGICOUNT, &impl->counters) == 0;
#endif
  impl_ = impl;
  return true;
}

void SerialDevice::Close() {
  if (!impl_) return;
  close(impl_->fd);
  close(impl_->wake[0]);
  close(impl_->wake[1]);
  delete impl_;
  impl_ = nullptr;
}

SerialDevice::WaitResult SerialDevice::WaitForInput() {
  if (!impl_) return kFailed;
  pollfd fds[2];
  fds[0].fd = impl_->fd;
  fds[0].events = POLLIN;
  fds[1].fd = impl_->wake[0];
  fds[1].events = POLLIN;
  int n = poll(fds, 2, 1000);
  if (n < 0) return errno == EINTR ? kFailed : (SleepMs(10), kFailed);
  if (fds[1].revents & POLLIN) {
    char drain[16];
    while (read(impl_->wake[0], drain, sizeof drain) > 0) {
    }
    return kWoken;
  }
  if (fds[0].revents & POLLIN) return kInput;
  if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
    SleepMs(10);  // the other end is gone: do not spin
    return kFailed;
  }
  return kFailed;  // time-out pass
}

uint32_t SerialDevice::ClearErrors(uint32_t* inQueue) {
  uint32_t flags = 0;
  if (inQueue) *inQueue = 0;
  if (!impl_) return 0;
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
  int waiting = 0;
  if (inQueue && ioctl(impl_->fd, FIONREAD, &waiting) == 0 && waiting > 0) *inQueue = static_cast<uint32_t>(waiting);
  return flags;
}

int32_t SerialDevice::Read(uint8_t* buffer, uint32_t n) {
  if (!impl_) return -1;
  ssize_t got = read(impl_->fd, buffer, n);
  if (got < 0) return -1;
  return static_cast<int32_t>(got);
}

int32_t SerialDevice::Write(const uint8_t* buffer, uint32_t n) {
  if (!impl_) return -1;
  // Write time-out: 1 ms per byte, with a floor for scheduling jitter.
  const int64_t deadline = NowMs() + 50 + n;
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

void SerialDevice::Wake() {
  if (!impl_) return;
  char one = 1;
  ssize_t r = write(impl_->wake[1], &one, 1);
  (void)r;
}

}  // namespace platform
}  // namespace zarn
