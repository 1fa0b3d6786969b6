// Quick start with the C++ API: open a drive, enable it, home, move, wait, read back.
//   quickstart_cpp udp HOST PORT
//   quickstart_cpp serial DEVICE BAUD
// Try it against the virtual drive: zarn-sim --udp 127.0.0.1:50000 --stale-in-position 30
#include <zarn/zarn.hpp>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

using namespace std::chrono_literals;

namespace {
zarn::Drive Open(int argc, char** argv) {
  const uint8_t id = 1;
  if (argc == 4 && std::strcmp(argv[1], "udp") == 0)
    return zarn::Drive::OpenUdp(id, argv[2], static_cast<uint16_t>(std::atoi(argv[3])));
  if (argc == 4 && std::strcmp(argv[1], "serial") == 0)
    return zarn::Drive::OpenSerial(id, argv[2], static_cast<uint32_t>(std::atol(argv[3])));
  throw zarn::Error(ZARN_E_INVALID_PARAM, "usage: quickstart_cpp udp HOST PORT | serial DEVICE BAUD");
}
}  // namespace

int main(int argc, char** argv) {
  try {
    zarn::Drive drive = Open(argc, argv);
    drive.Enable();                                       // waits until the drive reports the servo on
    drive.Home(35, zarn::HomingProfile{0, 0, 0, 0}, 1s);  // method 35: here is position 0
    drive.MoveAbsolute(20000, zarn::Profile{100000, 1000000, 1000000});
    drive.WaitMoveDone(5s);  // sees the move start before it trusts the in-position bit
    const int32_t position = drive.Position();
    std::printf("in position at %d\n", static_cast<int>(position));
    drive.Disable();
    return position == 20000 ? 0 : 1;
  } catch (const zarn::Error& e) {
    // what() names the operation, the drive and the message; code() holds the zarn code.
    std::fprintf(stderr, "%s (code %d)\n", e.what(), e.code().value());
    return 1;
  }
}
