// posix: the self-pipe behind SerialDevice::Wake and UdpSocket::Wake.
#include "platform/posix/wake_pipe.h"

#include <fcntl.h>
#include <unistd.h>

namespace zarn {
namespace platform {

bool WakePipe::Create() {
  if (fds_[0] >= 0) return true;
  return pipe2(fds_, O_NONBLOCK | O_CLOEXEC) == 0;
}

void WakePipe::Close() {
  for (int& fd : fds_) {
    if (fd >= 0) close(fd);
    fd = -1;
  }
}

void WakePipe::Signal() {
  if (fds_[1] < 0) return;
  const char one = 1;
  ssize_t r = write(fds_[1], &one, 1);  // a full pipe is already signalled
  (void)r;
}

void WakePipe::Drain() {
  char bytes[16];
  while (fds_[0] >= 0 && read(fds_[0], bytes, sizeof bytes) > 0) {
  }
}

}  // namespace platform
}  // namespace zarn
