// The MEI (Modbus 0x2B / 0x0D, CANopen general reference) request and reply
// format shared by both transports: request body, serial frame, CRC-16/MODBUS,
// reply completion and checks, and the exception-code map.
#pragma once

#include <cstddef>
#include <cstdint>

#include "protocol/packet.h"

namespace zarn {
namespace frame {

constexpr uint8_t kFunctionCode = 0x2B;
constexpr uint8_t kMeiType = 0x0D;
constexpr uint8_t kProtocolWrite = 0x80;
constexpr uint8_t kProtocolRead = 0x00;
constexpr size_t kReadBodySize = 8;
constexpr size_t kWriteHeaderSize = 12;
// Serial: a frame may use 65 bytes before its 2-byte CRC.
constexpr size_t kSerialFrameLimit = 65;
constexpr size_t kSerialTxSize = kSerialFrameLimit + 2;
constexpr size_t kRxBufferSize = 65;
constexpr size_t kSerialReadRequestSize = 11;
constexpr size_t kSerialExceptionSize = 5;

uint16_t Crc16(const uint8_t* data, size_t count);

// Maps a drive's exception code to the library's error code (4 to 11).
int32_t ExceptionToError(uint8_t exceptionCode);

// Writes the request body (no unit address, no CRC) for the packet into out,
// which holds capacity bytes. Returns its length, or 0 when it does not fit.
size_t BuildBody(const MeiPacket& packet, uint8_t* out, size_t capacity);

// Builds the serial frame (address, body, CRC) into tx (kSerialTxSize bytes).
// Returns 0 with *length = L, or ZARN_E_SERIAL_TOO_BIG with the 13 header
// bytes in tx and nothing else.
int32_t BuildSerialRequest(const MeiPacket& packet, uint8_t* tx, uint16_t* length);

// A serial exception reply: at least 5 bytes and a function byte >= 0x80.
bool SerialException(const uint8_t* rx, size_t count, int32_t* error);

// Whether a serial reply of count bytes is complete. For a read, the data
// count announced so far goes to *rxLength as soon as it is in.
bool SerialReplyComplete(const uint8_t* rx, size_t count, bool isRead, size_t requestLength, uint16_t* rxLength);

// Checks a complete serial reply against the request frame. For a read the
// data are copied into the packet first (clamped to what was received).
// Returns 0, ZARN_E_SERIAL_ECHO or ZARN_E_SERIAL_CRC.
int32_t CheckSerialReply(const uint8_t* rx, size_t count, const uint8_t* request, size_t requestLength,
                         MeiPacket* packet);

}  // namespace frame
}  // namespace zarn
