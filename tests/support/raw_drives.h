// Minimal drives with fixed buffers and no allocation in their loops, for
// allocation counting and benchmarks: every read is answered with a 4-byte
// value, every write is echoed.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

namespace zarn {
namespace test {

class RawUdpDrive {
 public:
  RawUdpDrive();
  ~RawUdpDrive();
  uint16_t Port() const { return port_; }

 private:
  int fd_ = -1;
  uint16_t port_ = 0;
  std::atomic<bool> running_{true};
  std::thread thread_;
};

// A drive on the master side of a pseudo-terminal; the client opens SlavePath().
// It answers for address and, when not 0, for second as well (two drives on one line).
class RawSerialDrive {
 public:
  explicit RawSerialDrive(uint8_t address, uint8_t second = 0);
  ~RawSerialDrive();
  const std::string& SlavePath() const { return path_; }

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string path_;
  std::atomic<bool> running_{true};
  std::thread thread_;
};

// CRC-16/MODBUS (bitwise).
uint16_t Crc16Bitwise(const uint8_t* data, size_t n);

}  // namespace test
}  // namespace zarn
