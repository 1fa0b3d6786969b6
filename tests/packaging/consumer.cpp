// The C++ API from the installed headers: consumer_cpp udp ADDRESS PORT.
#include <cstdio>
#include <cstdlib>
#include <zarn/zarn.hpp>

int main(int argc, char** argv) {
  if (argc != 4) return 2;
  try {
    zarn::Drive drive = zarn::Drive::OpenUdp(1, argv[2], static_cast<uint16_t>(std::atoi(argv[3])));
    const uint32_t velocity = drive.Read<uint32_t>(0x6081, 0);
    std::printf("profile velocity %u, position %d\n", static_cast<unsigned>(velocity), drive.Position());
    return velocity == 100000 ? 0 : 1;
  } catch (const zarn::Error& error) {
    std::fprintf(stderr, "consumer_cpp: %s\n", error.what());
    return 1;
  }
}
