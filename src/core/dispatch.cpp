// ReadObject / WriteObject: route a request record to the drive's transport.
#include "core/dispatch.h"

#include <algorithm>
#include <cstring>

#include "core/state.h"
#include "zarn/zarn_errors.h"

namespace zarn {

namespace {
std::atomic<ITransport*> g_override{nullptr};

// The transport that serves the packet's drive, or a code when none does.
int32_t Route(MeiPacket* packet, ITransport** transport) {
  ITransport* forced = g_override.load();
  switch (packet->kind) {
    case kConnectionSerial: *transport = forced ? forced : &State().serialClient; return ZARN_OK;
    case kConnectionEthernet: {
      int slot = 0;
      if (!FindEthernetSlot(packet->driveId, &slot)) return ZARN_E_ETH_NO_SLOT;
      *transport = forced ? forced : &State().ethernetSlots[slot];
      return ZARN_OK;
    }
    default: return ZARN_E_NO_CONNECTION;
  }
}
}  // namespace

void SetTransportOverride(ITransport* transport) { g_override.store(transport); }

bool FindEthernetSlot(uint8_t driveId, int* slot) {
  for (int i = 0; i < kEthernetSlotCount; ++i) {
    if (State().ethernetSlots[i].DriveId() == driveId) {
      *slot = i;
      return true;
    }
  }
  return false;
}

int32_t ReadObject(uint8_t driveId, uint16_t index, uint8_t subIndex, uint8_t* out, size_t capacity) {
  MeiPacket packet;
  packet.driveId = driveId;
  packet.kind = ConnectionOf(driveId);
  packet.index = index;
  packet.subIndex = subIndex;
  ITransport* transport = nullptr;
  int32_t code = Route(&packet, &transport);
  if (code != ZARN_OK) return Record(code);
  code = transport->Transact(&packet);
  SetLastError(code);
  // The reply bytes are copied whatever the outcome, never past the caller's buffer.
  size_t n = std::min<size_t>({packet.rxLength, sizeof packet.rxData, capacity});
  if (out && n) memcpy(out, packet.rxData, n);
  return code;
}

int32_t WriteObject(uint8_t driveId, uint16_t index, uint8_t subIndex, const uint8_t* data, uint16_t length) {
  MeiPacket packet;
  packet.driveId = driveId;
  packet.kind = ConnectionOf(driveId);
  packet.index = index;
  packet.subIndex = subIndex;
  packet.write = true;
  packet.txLength = std::min<uint16_t>(length, kDataBufferSize);
  if (data && packet.txLength) memcpy(packet.txData, data, packet.txLength);
  ITransport* transport = nullptr;
  int32_t code = Route(&packet, &transport);
  if (code == ZARN_OK) code = transport->Transact(&packet);
  return Record(code);
}

}  // namespace zarn
