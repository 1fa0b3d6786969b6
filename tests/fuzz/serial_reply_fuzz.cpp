// The serial request frame and the reply rules over any request and any
// reply bytes, arriving in any chunks: the frame is built as the CRC and the
// request body say, the reply wait takes its decisions in the client's order,
// and the check's verdict, data and lengths are what the bytes call for.
// Every buffer is allocated at its exact size, so a byte past it is an
// AddressSanitizer report; the request record is poisoned around what the
// check may write.
// Covers: src/protocol/frame.cpp
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <cstring>
#include <memory>

#include "crc.h"
#include "protocol/frame.h"
#include "zarn/zarn_errors.h"

using namespace zarn;

#define REQUIRE(condition) \
  if (!(condition)) __builtin_trap()

namespace {

constexpr uint8_t kPoison = 0xA5;

void CheckBuild(const MeiPacket& packet, const uint8_t* tx, int32_t code, uint16_t length) {
  const size_t header = packet.IsWrite() ? 13 : 9;
  if (code != ZARN_OK) {
    REQUIRE(code == ZARN_E_SERIAL_TOO_BIG && length == 0 && header + packet.txLength > frame::kSerialFrameLimit);
    return;
  }
  REQUIRE(length == header + packet.txLength + 2 && length <= frame::kSerialTxSize);
  REQUIRE(tx[0] == packet.driveId && tx[1] == 0x2B && tx[2] == 0x0D);
  REQUIRE(tx[3] == (packet.IsWrite() ? 0x80 : 0x00) && tx[6] == packet.index >> 8 && tx[8] == packet.subIndex);
  REQUIRE(memcmp(tx + header, packet.txData, packet.txLength) == 0);
  const uint16_t crc = test::Crc16Bitwise(tx, length - 2u);
  REQUIRE(tx[length - 2] == (crc & 0xFF) && tx[length - 1] == crc >> 8);
  // The Ethernet body is the same bytes without address and CRC, where it fits.
  for (size_t capacity : {size_t(8), size_t(18), size_t(65)}) {
    std::unique_ptr<uint8_t[]> body(new uint8_t[capacity]);
    const size_t n = frame::BuildBody(packet, body.get(), capacity);
    REQUIRE(n <= capacity);
    if (n) REQUIRE(n == length - 3u && memcmp(body.get(), tx + 1, n) == 0);
    if (!n) REQUIRE(length - 3u > capacity);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  std::unique_ptr<MeiPacket> packet(new MeiPacket);
  packet->driveId = in.ConsumeIntegral<uint8_t>();
  packet->index = in.ConsumeIntegral<uint16_t>();
  packet->subIndex = in.ConsumeIntegral<uint8_t>();
  packet->write = in.ConsumeBool();
  if (packet->write) packet->txLength = in.ConsumeIntegralInRange<uint16_t>(0, sizeof packet->txData);
  in.ConsumeData(packet->txData, packet->txLength);
  memset(packet->rxData, kPoison, sizeof packet->rxData);
  const MeiPacket before = *packet;

  std::unique_ptr<uint8_t[]> tx(new uint8_t[frame::kSerialTxSize]);
  uint16_t length = 0xFFFF;
  const int32_t built = frame::BuildSerialRequest(*packet, tx.get(), &length);
  CheckBuild(*packet, tx.get(), built, length);
  if (built != ZARN_OK) return 0;

  // The reply comes in chunks; the reader keeps at most 65 bytes.
  std::unique_ptr<uint8_t[]> rx(new uint8_t[frame::kRxBufferSize]);
  size_t count = 0;
  const bool isRead = !packet->IsWrite();
  packet->rxLength = 0;
  bool complete = false;
  while (in.remaining_bytes() > 0 && !complete) {
    const size_t chunk = in.ConsumeIntegralInRange<size_t>(1, 70);
    const std::vector<uint8_t> bytes = in.ConsumeBytes<uint8_t>(chunk);
    const size_t take = std::min(bytes.size(), frame::kRxBufferSize - count);
    if (take) memcpy(rx.get() + count, bytes.data(), take);
    count += take;
    if (count >= frame::kRxBufferSize) break;
    int32_t code = -1;
    if (frame::SerialException(rx.get(), count, &code)) {
      REQUIRE(count >= 5 && rx[1] >= 0x80);
      REQUIRE(code >= ZARN_E_REPLY_UNKNOWN && code <= ZARN_E_REPLY_FILE_CHECK);
      REQUIRE(code == frame::ExceptionToError(rx[2]));
      return 0;
    }
    REQUIRE(code == -1);
    complete = frame::SerialReplyComplete(rx.get(), count, isRead, length, &packet->rxLength);
    if (!isRead) REQUIRE(complete == (count >= length));
  }
  if (!complete && count < frame::kRxBufferSize) return 0;  // the deadline ends this one

  frame::SerialReplyComplete(rx.get(), count, isRead, length, &packet->rxLength);
  const int32_t code = frame::CheckSerialReply(rx.get(), count, tx.get(), length, packet.get());

  // The verdict, from the bytes alone.
  const bool echo = count >= length && memcmp(rx.get(), tx.get(), length) == 0;
  const bool crc = count >= 2 && test::Crc16Bitwise(rx.get(), count - 2) == (rx[count - 2] | rx[count - 1] << 8);
  REQUIRE(code == (!echo ? ZARN_E_SERIAL_ECHO : !crc ? ZARN_E_SERIAL_CRC : ZARN_OK));
  // The data: what the reply announced, no more than it holds, copied exactly;
  // nothing else of the record is touched.
  const size_t available = count > length + 2u ? count - length - 2u : 0;
  REQUIRE(packet->rxLength <= available && packet->rxLength <= sizeof packet->rxData);
  if (!isRead) REQUIRE(packet->rxLength == 0);
  if (isRead && count >= length + 2u) {
    const size_t announced = size_t(rx[length]) << 8 | rx[length + 1];
    REQUIRE(packet->rxLength == std::min(announced, available));
  }
  if (packet->rxLength) REQUIRE(memcmp(packet->rxData, rx.get() + length + 2, packet->rxLength) == 0);
  for (size_t i = packet->rxLength; i < sizeof packet->rxData; ++i) REQUIRE(packet->rxData[i] == kPoison);
  REQUIRE(memcmp(packet->txData, before.txData, sizeof before.txData) == 0);
  REQUIRE(packet->driveId == before.driveId && packet->index == before.index && packet->txLength == before.txLength);
  return 0;
}
