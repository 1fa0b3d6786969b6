// Linux's arbitrary-baud interface (termios2 with BOTHER). Kept apart because
// <asm/termbits.h> cannot share a translation unit with <termios.h>.
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cstdint>

namespace zarn {
namespace platform {

bool SetArbitraryBaud(int fd, uint32_t baud) {
#if defined(TCGETS2) && defined(BOTHER)
  struct termios2 tio;
  if (ioctl(fd, TCGETS2, &tio) != 0) return false;
  tio.c_cflag &= ~CBAUD;
  tio.c_cflag |= BOTHER;
  tio.c_ispeed = baud;
  tio.c_ospeed = baud;
  return ioctl(fd, TCSETS2, &tio) == 0;
#else
  (void)fd;
  (void)baud;
  return false;
#endif
}

}  // namespace platform
}  // namespace zarn
