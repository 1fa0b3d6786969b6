// Connection exports: Ethernet open and close (and the serial close), the
// connection inspectors and the EoE setup-file path.
#include <cstdio>
#include <cstring>

#include "core/access.h"
#include "core/state.h"
#include "ethernet/ethercat.h"
#include "platform/platform.h"
#include "zarn/zarn.h"

namespace zarn {

namespace {

constexpr uint16_t kOpenProbeObject = 0x2003;
constexpr uint16_t kCurrentGainObject = 0x2514;

bool ValidDriveId(int32_t driveId) { return driveId >= 0 && driveId <= 255; }

// True when another slot than `except` still holds an open connection.
bool OtherSlotOpen(int except) {
  for (int i = 0; i < kEthernetSlotCount; ++i)
    if (i != except && State().ethernetSlots[i].IsOpen()) return true;
  return false;
}

// Under ethernetCloseLock: bringing the master up and opening a slot cannot
// interleave with a close that stops the master with its last connection.
int32_t OpenEthernetDrive(const char* setupFile, uint8_t driveId, const char* address, uint16_t port) {
  LibraryState& s = State();
  if (ConnectionOf(driveId) != kConnectionNone) return ZARN_E_ETH_OPEN;
  if (driveId >= kEthernetSlotCount) return ZARN_E_NO_EMPTY_CONNECTION;
  CMeiEthernet& slot = s.ethernetSlots[driveId];
  if (slot.IsOpen()) return ZARN_E_ETH_SLOT_USED;
  // Only the low 16 bits of the settings reach the socket.
  const uint16_t connectWait = static_cast<uint16_t>(s.connectTimeout.load());
  const uint16_t socketTimeout = static_cast<uint16_t>(s.socketTimeout.load());
  if (!slot.Connect(setupFile, address, port, connectWait, socketTimeout)) {
    slot.SetDriveId(0);
    SetConnection(driveId, kConnectionNone);
    return ZARN_E_ETH_OPEN;
  }
  slot.SetDriveId(driveId);
  SetConnection(driveId, kConnectionEthernet);
  s.lastConnectionKind.store(kConnectionEthernet);
  return ZARN_OK;
}

int32_t CloseEthernetDrive(uint8_t driveId) {
  LibraryState& s = State();
  platform::LockGuard lock(s.ethernetCloseLock);
  // Drive id n lives in slot n; id 0 can be closed like any other.
  if (driveId >= kEthernetSlotCount) return ZARN_E_ETH_CLOSE;
  CMeiEthernet& slot = s.ethernetSlots[driveId];
  if (slot.DriveId() != driveId || ConnectionOf(driveId) != kConnectionEthernet) return ZARN_E_ETH_CLOSE;
  // The master stops only with its last connection.
  slot.Disconnect(!OtherSlotOpen(driveId));
  slot.SetDriveId(0);
  SetConnection(driveId, kConnectionNone);
  return ZARN_OK;
}

template <typename Copy>
int32_t CopyPackets(uint8_t driveId, uint8_t* buffer, uint16_t* length, Copy copy) {
  if (!buffer || !length || driveId == 0) return Record(ZARN_E_INVALID_PARAM);
  LibraryState& s = State();
  switch (ConnectionOf(driveId)) {
    case kConnectionSerial: *length = copy(s.serialClient, buffer); return Record(ZARN_OK);
    case kConnectionEthernet: {
      int slot = 0;
      if (!FindEthernetSlot(driveId, &slot)) return Record(ZARN_E_NO_EMPTY_CONNECTION);
      *length = copy(s.ethernetSlots[slot], buffer);
      return Record(ZARN_OK);
    }
    default: return Record(ZARN_E_NO_CONNECTION);
  }
}

}  // namespace
}  // namespace zarn

using namespace zarn;

extern "C" {

ZARN_API int32_t ZARN_CALL ZARN_EDRVOpen(int32_t driveId, const char* address, uint16_t port) {
  if (!ValidDriveId(driveId)) return Record(ZARN_E_ID_RANGE);
  // Only a dotted IPv4 address names a drive; anything else would be sent to 255.255.255.255.
  if (!IsDottedIPv4(address)) return Record(ZARN_E_INVALID_PARAM);
  const uint8_t id = static_cast<uint8_t>(driveId);
  char setupFile[kSetupFileSize];
  snprintf(setupFile, sizeof setupFile, "%s", State().eoeSetupFile);
  int32_t code;
  {
    platform::LockGuard lock(State().ethernetCloseLock);
    code = OpenEthernetDrive(setupFile, id, address, port);
  }
  if (code == ZARN_OK) {
    uint8_t scratch[kPacketDataSize];
    ReadObject(id, kOpenProbeObject, 0, scratch, sizeof scratch);  // its outcome is not looked at
  }
  return Record(code);
}

ZARN_API int32_t ZARN_CALL ZARN_DriveClose(int32_t driveId) {
  if (!ValidDriveId(driveId)) return Record(ZARN_E_ID_RANGE);
  const uint8_t id = static_cast<uint8_t>(driveId);
  switch (ConnectionOf(id)) {
    case kConnectionSerial:
      // One port carries every serial drive: closing one closes the line.
      State().serialClient.CloseLine(id);
      break;
    case kConnectionEthernet: Record(CloseEthernetDrive(id)); break;
    default: break;
  }
  return Record(ZARN_OK);
}

ZARN_API int32_t ZARN_CALL ZARN_IsSlaveOnline(uint8_t driveId, int32_t* online) {
  if (!online) return Record(ZARN_E_INVALID_PARAM);
  uint16_t gain = 0;
  const bool answered = ReadValue<uint16_t>(driveId, kCurrentGainObject, 0, &gain) == ZARN_OK;
  *online = answered ? 1 : 0;
  return Record(answered ? ZARN_OK : ZARN_E_SLAVE_OFFLINE);
}

ZARN_API int32_t ZARN_CALL ZARN_GetSlaveCount(int32_t* count) {
  if (!count) return Record(ZARN_E_INVALID_PARAM);
  int32_t n = 0;
  const bool everConnected = State().lastConnectionKind.load() != kConnectionNone;
  for (int id = 0; id < kEthernetSlotCount; ++id) {
    if (everConnected) {
      int32_t online = 0;
      ZARN_IsSlaveOnline(static_cast<uint8_t>(id), &online);
      if (online == 1) ++n;
    } else if (State().ethernetSlots[id].DriveId() != 0) {
      ++n;
    }
  }
  *count = n;
  return Record(ZARN_OK);
}

ZARN_API int32_t ZARN_CALL ZARN_GetOnlineMode(int32_t* mode) {
  if (!mode) return Record(ZARN_E_INVALID_PARAM);
  *mode = EtherCatMaster::Instance().GetOnlineMode();
  return Record(ZARN_OK);
}

ZARN_API int32_t ZARN_CALL ZARN_GetRxPackets(uint8_t driveId, uint8_t* buffer, uint16_t* length) {
  return CopyPackets(driveId, buffer, length, [](auto& client, uint8_t* out) { return client.LastRx(out); });
}

ZARN_API int32_t ZARN_CALL ZARN_GetTxPackets(uint8_t driveId, uint8_t* buffer, uint16_t* length) {
  return CopyPackets(driveId, buffer, length, [](auto& client, uint8_t* out) { return client.LastTx(out); });
}

ZARN_API int32_t ZARN_CALL ZARN_SetEoESetupFile(const char* path) {
  if (!path || strnlen(path, kSetupFileSize) >= kSetupFileSize) return Record(ZARN_E_INVALID_PARAM);
  snprintf(State().eoeSetupFile, kSetupFileSize, "%s", path);
  return Record(ZARN_OK);
}

ZARN_API int32_t ZARN_CALL ZARN_GetEoESetupFile(char* path) {
  if (!path) return Record(ZARN_E_INVALID_PARAM);
  snprintf(path, kSetupFileSize, "%s", State().eoeSetupFile);
  return Record(ZARN_OK);
}

}  // extern "C"
