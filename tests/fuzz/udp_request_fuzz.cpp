// Covers: src/ethernet/meiethernet.cpp src/ethernet/virtualethernet.cpp src/core/replywait.cpp src/core/dispatch.cpp
// A whole UDP request through the exports over a real loopback socket, the
// drive answering with 0 to 4 datagrams of 0 to 80 bytes from the fuzzer:
// the request ends at once (reply waits made instant) with a code an
// Ethernet request can give, a read's value is the reply's data when it
// succeeds and untouched when it does not, and the last frames copied out
// fit their documented buffers. A datagram past 65 bytes is a receive error
// that pauses the connection; it is then closed and opened again.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <condition_variable>
#include <mutex>
#include <thread>

#include "core/replywait.h"
#include "request_harness.h"

using namespace zarn;
using namespace zarn::fuzz;

namespace {

constexpr uint8_t kDriveId = 1;

struct Drive {
  int fd = -1;
  uint16_t port = 0;
  std::mutex lock;
  std::condition_variable changed;
  std::vector<std::vector<uint8_t>> datagrams;
  bool busy = false;
  bool finished = true;

  // Drops the requests nobody answered (the identification read of an open).
  void Drain() {
    uint8_t request[128];
    pollfd p{fd, POLLIN, 0};
    while (poll(&p, 1, 20) > 0) recv(fd, request, sizeof request, 0);
  }

  void Serve() {
    for (;;) {
      std::vector<std::vector<uint8_t>> reply;
      {
        std::unique_lock<std::mutex> guard(lock);
        changed.wait(guard, [&] { return busy; });
        reply = datagrams;
      }
      for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 1) > 0) {
          uint8_t request[128];
          sockaddr_in from{};
          socklen_t length = sizeof from;
          if (recvfrom(fd, request, sizeof request, 0, reinterpret_cast<sockaddr*>(&from), &length) > 0) {
            for (const auto& d : reply) sendto(fd, d.data(), d.size(), 0, reinterpret_cast<sockaddr*>(&from), length);
            break;
          }
        }
        std::lock_guard<std::mutex> guard(lock);
        if (finished) break;  // returned without sending
      }
      std::lock_guard<std::mutex> guard(lock);
      busy = false;
      changed.notify_all();
    }
  }
};

Drive& TheDrive() {
  static Drive* drive = [] {
    Drive* d = new Drive;  // lives as long as the process
    d->fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    REQUIRE(bind(d->fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0);
    REQUIRE(getsockname(d->fd, reinterpret_cast<sockaddr*>(&a), &length) == 0);
    d->port = ntohs(a.sin_port);
    SetInstantReplyWaits(2);
    REQUIRE(ZARN_EDRVOpen(kDriveId, "127.0.0.1", d->port) == ZARN_OK);  // its identification read goes unanswered
    d->Drain();
    std::thread([d] { d->Serve(); }).detach();
    return d;
  }();
  return *drive;
}

const std::set<int32_t> kEthernetCodes = {ZARN_OK,
                                          ZARN_E_REPLY_UNKNOWN,
                                          ZARN_E_REPLY_ILLEGAL_FUNCTION,
                                          ZARN_E_REPLY_ILLEGAL_ADDRESS,
                                          ZARN_E_REPLY_ILLEGAL_DATA,
                                          ZARN_E_REPLY_DEVICE_FAILURE,
                                          ZARN_E_REPLY_LONG_JOB,
                                          ZARN_E_REPLY_BUSY,
                                          ZARN_E_REPLY_FILE_CHECK,
                                          ZARN_E_ETH_ECHO,
                                          ZARN_E_ETH_NO_REPLY,
                                          ZARN_E_STRING_TOO_LONG};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Drive& drive = TheDrive();
  FuzzedDataProvider in(data, size);
  Request request = ChooseRequest(in, 0);
  request.driveId = kDriveId;
  std::vector<std::vector<uint8_t>> datagrams(in.ConsumeIntegralInRange<size_t>(0, 4));
  std::vector<uint8_t> seen;  // the reply as the client holds it: datagrams up to the first oversized one
  bool oversized = false;
  for (auto& d : datagrams) {
    d = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(0, 80));
    oversized |= d.size() > 65;
    if (!oversized) seen.insert(seen.end(), d.begin(), d.end());
  }
  if (seen.size() > 65) seen.resize(65);
  {
    std::lock_guard<std::mutex> guard(drive.lock);
    drive.datagrams = datagrams;
    drive.finished = false;
    drive.busy = true;
  }
  drive.changed.notify_all();
  const Outcome outcome = Perform(request);
  {
    std::unique_lock<std::mutex> guard(drive.lock);
    drive.finished = true;
    drive.changed.wait(guard, [&] { return !drive.busy; });
  }
  REQUIRE(kEthernetCodes.count(outcome.code));
  if (outcome.code == ZARN_E_STRING_TOO_LONG) REQUIRE(request.text.size() > 32);
  if (IsRead(request.kind)) {
    std::vector<uint8_t> replyData;
    if (seen.size() > 12) {
      const size_t announced = size_t(seen[10]) << 8 | seen[11];
      replyData.assign(seen.begin() + 12, seen.begin() + 12 + std::min(announced, seen.size() - 12));
    }
    CheckRead(request, outcome, replyData);
  }
  CheckPackets(kDriveId);
  if (oversized) {  // the receive error's pause would hold up the next inputs
    REQUIRE(ZARN_DriveClose(kDriveId) == ZARN_OK);
    REQUIRE(ZARN_EDRVOpen(kDriveId, "127.0.0.1", drive.port) == ZARN_OK);
    drive.Drain();
  }
  return 0;
}
