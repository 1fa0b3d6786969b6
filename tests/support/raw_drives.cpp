#include "raw_drives.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>

namespace zarn {
namespace test {

uint16_t Crc16Bitwise(const uint8_t* d, size_t n) {
  uint16_t crc = 0xFFFF;
  for (size_t i = 0; i < n; ++i) {
    crc ^= d[i];
    for (int b = 0; b < 8; ++b)
      crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : static_cast<uint16_t>(crc >> 1);
  }
  return crc;
}

RawUdpDrive::RawUdpDrive() {
  fd_ = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
  port_ = ntohs(a.sin_port);
  thread_ = std::thread([this] {
    uint8_t in[128], out[128];
    while (running_) {
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, 250) <= 0) continue;  // idle peers stay off the CPU
      sockaddr_in from{};
      socklen_t fl = sizeof from;
      ssize_t n = recvfrom(fd_, in, sizeof in, 0, reinterpret_cast<sockaddr*>(&from), &fl);
      if (n < 8) continue;
      size_t m;
      if (in[2] == 0x80) {  // write: echo the body
        m = std::min<size_t>(static_cast<size_t>(n), 12u + (size_t(in[10]) << 8 | in[11]));
        memcpy(out, in, m);
      } else {
        memcpy(out, in, 8);
        out[8] = out[9] = 0;
        out[10] = 0;
        out[11] = 4;
        out[12] = 0x00;
        out[13] = 0x01;
        out[14] = 0xE2;
        out[15] = 0x40;  // 123456
        m = 16;
      }
      sendto(fd_, out, m, 0, reinterpret_cast<sockaddr*>(&from), fl);
    }
  });
}

RawUdpDrive::~RawUdpDrive() {
  running_ = false;
  thread_.join();
  close(fd_);
}

RawSerialDrive::RawSerialDrive(uint8_t address, uint8_t second) {
  char name[128];
  termios tio;
  cfmakeraw(&tio);
  openpty(&master_, &slave_, name, &tio, nullptr);
  path_ = name;
  thread_ = std::thread([this, address, second] {
    uint8_t in[128], out[128];
    size_t have = 0;
    while (running_) {
      pollfd p{master_, POLLIN, 0};
      if (poll(&p, 1, 20) <= 0) continue;
      ssize_t n = read(master_, in + have, sizeof in - have);
      if (n <= 0) continue;
      have += static_cast<size_t>(n);
      for (;;) {
        if (have < 4) break;
        size_t length = in[3] == 0x80 ? (have >= 13 ? 15u + (size_t(in[11]) << 8 | in[12]) : 0) : 11;
        if (length == 0 || have < length) break;
        if (in[0] == address || (second != 0 && in[0] == second)) {
          size_t m;
          if (in[3] == 0x80) {
            memcpy(out, in, length);
            m = length;
          } else {
            memcpy(out, in, 11);
            out[11] = 0;
            out[12] = 4;
            out[13] = 0x00;
            out[14] = 0x01;
            out[15] = 0xE2;
            out[16] = 0x40;
            uint16_t crc = Crc16Bitwise(out, 17);
            out[17] = static_cast<uint8_t>(crc);
            out[18] = static_cast<uint8_t>(crc >> 8);
            m = 19;
          }
          ssize_t w = write(master_, out, m);
          (void)w;
        }
        memmove(in, in + length, have - length);
        have -= length;
      }
      if (have == sizeof in) have = 0;
    }
  });
}

RawSerialDrive::~RawSerialDrive() {
  running_ = false;
  thread_.join();
  close(master_);
  close(slave_);
}

}  // namespace test
}  // namespace zarn
