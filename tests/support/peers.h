// Scripted peers for the tests: the far end of a real pseudo-terminal and a
// real UDP socket on loopback. Each records every request it receives and
// answers with whatever its responder returns, whole or in timed chunks.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace zarn {
namespace test {

using Bytes = std::vector<uint8_t>;

struct Chunk {
  Bytes bytes;
  int delayMs = 0;  // pause before this chunk is sent
};
using Reply = std::vector<Chunk>;
// Given one received request, what to send back (nothing: no reply).
using Responder = std::function<Reply(const Bytes& request)>;

inline Reply Whole(Bytes b) { return Reply{Chunk{std::move(b), 0}}; }

class PeerBase {
 public:
  using Clock = std::chrono::steady_clock;
  void SetResponder(Responder r);
  // Every request received so far, in order.
  std::vector<Bytes> Requests();
  // When each request was complete, in the same order.
  std::vector<Clock::time_point> RequestTimes();
  // When the last chunk of each reply had been written, in order.
  std::vector<Clock::time_point> ReplyTimes();
  void ClearRequests();
  // Waits until at least n requests have arrived.
  bool WaitForRequests(size_t n, int timeoutMs);

 protected:
  void Record(const Bytes& request, Reply* reply);
  // Sends each chunk of a reply after its pause.
  void Deliver(const Reply& reply, const std::function<void(const Bytes&)>& send);
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::vector<Bytes> requests_;
  std::vector<Clock::time_point> requestTimes_;
  std::vector<Clock::time_point> replyTimes_;
  Responder responder_;
  std::atomic<bool> running_{false};
  std::thread thread_;
};

// The far end of a serial line: on POSIX the master side of a new
// pseudo-terminal; on Windows the second of two linked COM ports. The library
// opens SlavePath().
class SerialPeer : public PeerBase {
 public:
  SerialPeer();
  ~SerialPeer();
  const std::string& SlavePath() const { return slavePath_; }
  // Sends bytes unasked (e.g. garbage between requests).
  void SendRaw(const Bytes& bytes);
  // The far end goes away, as when an adapter is pulled: the line hangs up.
  void HangUp();

  struct Io;  // per system

 private:
  void Run();
  // Splits the incoming stream into requests and answers each; idleMs is the
  // time since the last byte came.
  void Feed(Bytes* pending, int idleMs);
  void Send(const Reply& reply);
  Io* io_ = nullptr;
  std::string slavePath_;
};

// A UDP socket bound to 127.0.0.1 on an ephemeral port.
class UdpPeer : public PeerBase {
 public:
  UdpPeer();
  ~UdpPeer();
  uint16_t Port() const { return port_; }
  // Sends one datagram unasked to whoever sent the last request.
  void SendRaw(const Bytes& bytes);

  struct Io;  // per system

 private:
  void Run();
  Io* io_ = nullptr;
  uint16_t port_ = 0;
};

// The two ends of a serial line whose far end is not a SerialPeer (zarn-sim's
// serial endpoint): on POSIX both empty, the far end opens a new
// pseudo-terminal and the library its path; on Windows the linked COM ports.
struct LinkedPorts {
  std::string farEnd;
  std::string library;
};
LinkedPorts LinkedSerialPorts();

// True when the tests run under Wine rather than on Windows or POSIX.
bool RunningUnderWine();
// Skips a test under Wine, with the reason printed in the output.
#define ZARN_SKIP_UNDER_WINE(reason) \
  if (::zarn::test::RunningUnderWine()) GTEST_SKIP() << "skipped under Wine: " << (reason)

// CPU time this process, and the calling thread, have used so far, in seconds.
double ProcessCpuSeconds();
double ThreadCpuSeconds();
// Threads this process runs now.
int ThreadCount();
// Descriptors (handles on Windows) this process holds now.
int DescriptorCount();

// CRC-16/MODBUS appended low byte first.
void AppendCrc(Bytes* frame);

// A minimal object dictionary that answers MEI requests the way a drive does,
// and records each access, so tests can assert exact request sequences.
class DriveModel {
 public:
  struct Access {
    bool write;
    uint16_t index;
    uint8_t subIndex;
    Bytes data;
  };
  void Set(uint16_t index, uint8_t sub, Bytes value);
  void SetWord(uint16_t index, uint8_t sub, uint16_t v) { Set(index, sub, {uint8_t(v >> 8), uint8_t(v)}); }
  void SetDWord(uint16_t index, uint8_t sub, uint32_t v) {
    Set(index, sub, {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)});
  }
  Bytes Get(uint16_t index, uint8_t sub);
  // Answers requests for this object with an exception code.
  void Refuse(uint16_t index, uint8_t sub, uint8_t exceptionCode);
  std::vector<Access> Log();
  void ClearLog();

  // Responders for the two transports.
  Responder Serial(uint8_t address);
  Responder Ethernet();

  struct Outcome {
    bool exception = false;
    uint8_t code = 0;
    bool read = false;
    Bytes data;  // a read's value
  };
  // Handles one request body (function code first).
  Outcome Answer(const uint8_t* body, size_t n);

 private:
  std::mutex mutex_;
  std::vector<std::pair<uint32_t, Bytes>> values_;
  std::vector<std::pair<uint32_t, uint8_t>> refused_;
  std::vector<Access> log_;
};

// Helpers to assert frames.
std::string Hex(const Bytes& b);
Bytes SerialReadRequest(uint8_t address, uint16_t index, uint8_t sub);

}  // namespace test
}  // namespace zarn
