// The transports of the virtual drive: one UDP socket per drive, and a serial
// line (a new pseudo-terminal or an existing device) shared by several drives.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "drive.h"
#include "platform.h"

namespace zarn {
namespace sim {

class UdpEndpoint {
 public:
  // port 0 picks a free one. trace prints each request and reply.
  UdpEndpoint(Drive& drive, const std::string& host, uint16_t port, bool trace = false);
  ~UdpEndpoint();
  bool Ok() const { return socket_.IsOpen(); }
  uint16_t Port() const { return socket_.Port(); }
  const std::string& Error() const { return error_; }

 private:
  void Run();
  Drive& drive_;
  os::UdpSocket socket_;
  bool trace_;
  std::string error_;
  std::atomic<bool> running_{true};
  std::thread thread_;
};

class SerialEndpoint {
 public:
  // device empty: a new pseudo-terminal (POSIX only), whose path Path() gives.
  SerialEndpoint(std::vector<Drive*> drives, const std::string& device, uint32_t baud, bool trace = false);
  ~SerialEndpoint();
  bool Ok() const { return line_.IsOpen(); }
  const std::string& Path() const { return path_; }
  const std::string& Error() const { return error_; }

 private:
  void Run();
  void Answer(const uint8_t* frame, size_t length);
  std::vector<Drive*> drives_;
  os::SerialLine line_;
  std::string path_;
  bool trace_;
  std::string error_;
  std::atomic<bool> running_{true};
  std::thread thread_;
};

// "2B 0D 00 ..." and a short description of a request body ("read 6064:00").
std::string HexText(const uint8_t* data, size_t n);
std::string Describe(const uint8_t* body, size_t n);

}  // namespace sim
}  // namespace zarn
