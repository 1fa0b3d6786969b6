// The connection kinds of the connection table and the one operation every
// transport offers.
#pragma once

#include <cstdint>

#include "protocol/packet.h"

namespace zarn {

enum ConnectionKind : uint8_t { kConnectionNone = 0, kConnectionSerial = 1, kConnectionEthernet = 2 };

// One whole request/reply exchange; returns an error code (0 on success).
class ITransport {
 public:
  virtual int32_t Transact(MeiPacket* packet) = 0;

 protected:
  ~ITransport() = default;
};

}  // namespace zarn
