// Covers: src/serial/meiserial.cpp src/serial/virtualserial.cpp src/core/replywait.cpp src/core/dispatch.cpp
// A whole serial request through the exports over a real pseudo-terminal,
// the drive's side played by the fuzzer: whatever bytes come back, in
// whatever chunks, the request ends at once (reply waits made instant) with a
// code a serial request can give, a read's value is the reply's data when it
// succeeds and untouched when it does not, and the last frames copied out
// fit their documented buffers.
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <condition_variable>
#include <mutex>
#include <thread>

#include "core/replywait.h"
#include "request_harness.h"

using namespace zarn;
using namespace zarn::fuzz;

namespace {

// The drive's end of the line: answers the next request frame with the chunks it is given.
struct Drive {
  int master = -1;
  std::mutex lock;
  std::condition_variable changed;
  std::vector<std::vector<uint8_t>> chunks;
  bool busy = false;     // a request is being made
  bool finished = true;  // the request returned (or was never sent)

  void Serve() {
    for (;;) {
      std::vector<std::vector<uint8_t>> reply;
      {
        std::unique_lock<std::mutex> guard(lock);
        changed.wait(guard, [&] { return busy; });
        reply = chunks;
      }
      // One frame, by its own length fields, unless the request returns without sending.
      std::vector<uint8_t> frame;
      size_t length = 0;
      while (length == 0 || frame.size() < length) {
        pollfd p{master, POLLIN, 0};
        if (poll(&p, 1, 1) > 0) {
          uint8_t buffer[128];
          const ssize_t n = read(master, buffer, sizeof buffer);
          if (n > 0) frame.insert(frame.end(), buffer, buffer + n);
        }
        if (frame.size() >= 4) length = frame[3] == 0x80 ? (frame.size() >= 13 ? 15u + frame[12] : 0) : 11;
        std::lock_guard<std::mutex> guard(lock);
        if (finished && frame.empty()) break;
      }
      if (!frame.empty())
        for (const auto& c : reply) REQUIRE(write(master, c.data(), c.size()) == static_cast<ssize_t>(c.size()));
      std::lock_guard<std::mutex> guard(lock);
      busy = false;
      changed.notify_all();
    }
  }
};

Drive& TheDrive() {
  static Drive* drive = [] {
    Drive* d = new Drive;  // lives as long as the process
    int slave = -1;        // kept open: the line never hangs up
    char name[128];
    termios tio;
    cfmakeraw(&tio);
    REQUIRE(openpty(&d->master, &slave, name, &tio, nullptr) == 0);
    SetInstantReplyWaits(2);
    for (int id : {0, 1, 2}) REQUIRE(ZARN_SDRVOpen(id, name, 115200) == ZARN_OK);  // 0 is refused at each request
    std::thread([d] { d->Serve(); }).detach();
    return d;
  }();
  return *drive;
}

const std::set<int32_t> kSerialCodes = {ZARN_OK,
                                        ZARN_E_INVALID_PARAM,
                                        ZARN_E_REPLY_UNKNOWN,
                                        ZARN_E_REPLY_ILLEGAL_FUNCTION,
                                        ZARN_E_REPLY_ILLEGAL_ADDRESS,
                                        ZARN_E_REPLY_ILLEGAL_DATA,
                                        ZARN_E_REPLY_DEVICE_FAILURE,
                                        ZARN_E_REPLY_LONG_JOB,
                                        ZARN_E_REPLY_BUSY,
                                        ZARN_E_REPLY_FILE_CHECK,
                                        ZARN_E_SERIAL_CRC,
                                        ZARN_E_SERIAL_ECHO,
                                        ZARN_E_SERIAL_NO_REPLY,
                                        ZARN_E_STRING_TOO_LONG};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Drive& drive = TheDrive();
  FuzzedDataProvider in(data, size);
  const Request request = ChooseRequest(in, 2);
  std::vector<std::vector<uint8_t>> chunks;
  std::vector<uint8_t> seen;  // the reply as the client can hold it: 65 bytes at most
  while (in.remaining_bytes() > 0 && chunks.size() < 8) {
    chunks.push_back(in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(1, 70)));
    seen.insert(seen.end(), chunks.back().begin(), chunks.back().end());
  }
  if (seen.size() > 65) seen.resize(65);
  {
    std::lock_guard<std::mutex> guard(drive.lock);
    drive.chunks = chunks;
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
  REQUIRE(kSerialCodes.count(outcome.code));
  if (outcome.code == ZARN_E_INVALID_PARAM) REQUIRE(request.driveId == 0);
  if (outcome.code == ZARN_E_STRING_TOO_LONG) REQUIRE(request.text.size() > 32);
  if (IsRead(request.kind)) {
    std::vector<uint8_t> replyData;
    if (seen.size() > 13) {
      const size_t announced = size_t(seen[11]) << 8 | seen[12];
      replyData.assign(seen.begin() + 13, seen.begin() + 13 + std::min(announced, seen.size() - 13));
    }
    CheckRead(request, outcome, replyData);
  }
  CheckPackets(request.driveId ? request.driveId : 1);
  return 0;
}
