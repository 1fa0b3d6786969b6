// The serial line's hold on its device, where only posix can show it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "core/state.h"
#include "fixtures.h"
#include "platform/platform.h"

namespace zarn {
namespace test {
namespace {

std::string g_traced;
void CollectTrace(const char* text) { g_traced += std::string(text) + "\n"; }

int OpenInAnotherProgram(const std::string& path) {
  const std::string command = std::string(ZARN_OPEN_PORT_PROGRAM) + " '" + path + "'";
  const int status = system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(SerialExclusive, AHeldLineKeepsOtherOpenersOut) {
  SerialPeer peer;
  const std::string path = peer.SlavePath();
  ASSERT_EQ(0, ZARN_SDRVOpen(1, path.c_str(), 115200));
  EXPECT_EQ(ZARN_E_SERIAL_OPEN, OpenInAnotherProgram(path));
  // An opener that does not ask first is refused by the device itself
  // (the superuser passes, but finds the line marked exclusive).
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) {
    EXPECT_EQ(EBUSY, errno);
  } else {
    int exclusive = 0;
    EXPECT_EQ(0, ioctl(fd, TIOCGEXCL, &exclusive));
    EXPECT_EQ(1, exclusive);
    close(fd);
  }
  // The reason reaches the debug trace.
  platform::SetTraceSink(CollectTrace);
  platform::SerialDevice second;
  EXPECT_FALSE(second.Open(path.c_str(), 0, 115200, 0, 8, 0));
  platform::SetTraceSink(nullptr);
  EXPECT_NE(std::string::npos, g_traced.find("busy")) << g_traced;
  // Released at close.
  EXPECT_EQ(0, ZARN_DriveClose(1));
  EXPECT_EQ(0, OpenInAnotherProgram(path));
}

TEST(SerialOpen, ADeviceNameTooLongIsRefusedNotCut) {
  SerialPeer peer;
  const std::string path = peer.SlavePath();
  // Cut to 255 characters, this name would still name the line.
  const std::string name = std::string(255 - path.size(), '/') + path + "/and-more";
  EXPECT_EQ(ZARN_E_SERIAL_OPEN, ZARN_SDRVOpen(1, name.c_str(), 9600));
  EXPECT_EQ(ZARN_E_SERIAL_OPEN, ZARN_GetErrorCode(nullptr));
  EXPECT_EQ(0, ConnectionOf(1));
  EXPECT_FALSE(State().serialClient.IsOpen());
}

}  // namespace
}  // namespace test
}  // namespace zarn
