#include "ethernet/meiethernet.h"

#include <cstdio>
#include <cstring>

#include "ethernet/ethercat.h"
#include "protocol/frame.h"
#include "zarn/zarn_errors.h"

namespace zarn {

namespace {
constexpr uint32_t kReplyDeadlineMs = 1000;
constexpr int32_t kOnlineMode = 2;
// Writes of up to 6 data bytes go out as a fixed 18-byte datagram.
constexpr uint16_t kFixedWriteDatagram = 18;
}  // namespace

CMeiEthernet::CMeiEthernet() : pending_(nullptr), driveId_(0), setupFile_() {
  if (responseEvent_.IsValid()) SetResponseEvent(&responseEvent_);
}

CMeiEthernet::~CMeiEthernet() { Close(); }

bool CMeiEthernet::Connect(const char* setupFile, const char* address, uint16_t port, uint16_t connectWait,
                           uint16_t socketTimeout) {
  snprintf(setupFile_, sizeof setupFile_, "%s", setupFile ? setupFile : "");
  EtherCatMaster& master = EtherCatMaster::Instance();
  const char* reason = nullptr;
  if (master.IsBroken(&reason)) {
    // A master library that is there but unusable is no reason to go direct.
    char text[480];
    snprintf(text, sizeof text, "API_EtherCAT cannot be used: %s", reason);
    platform::ShowMessageBox(text);
    return false;
  }
  if (master.GetOnlineMode() != kOnlineMode) {
    uint16_t wide[256];
    if (!platform::FileNameToUtf16(setupFile_, wide, sizeof wide / sizeof wide[0])) {
      platform::ShowMessageBox("Need to configure Ethernet network first!");
      return false;
    }
    const uint16_t* path = wide;
    int32_t slaveCount = 0;
    if (master.InitKernel(&path, &slaveCount) != 0) {
      platform::ShowMessageBox("Need to configure Ethernet network first!");
      return false;
    }
    platform::SleepMs(1000);
    int32_t accepted = master.SetOnlineMode(kOnlineMode);
    if (accepted != 0 && accepted != 1) {
      platform::ShowMessageBox("Drive could not switch to right status!");
      return false;
    }
    const uint32_t start = platform::TickCount();
    while (master.GetOnlineMode() != kOnlineMode) {
      if (platform::TickCount() - start > kOnlineModeWaitMs) {
        platform::ShowMessageBox("Drive could not switch to right status!");
        return false;
      }
      platform::SleepMs(100);
    }
  }
  return Open(address, port, connectWait, socketTimeout);
}

void CMeiEthernet::Disconnect(bool stopMaster) {
  {
    platform::LockGuard lock(transactLock_);
    Close();
  }
  if (stopMaster) EtherCatMaster::Instance().Stop();
}

uint16_t CMeiEthernet::LastTx(uint8_t* out) {
  platform::LockGuard lock(transactLock_);
  return CopyTx(out);
}

uint16_t CMeiEthernet::LastRx(uint8_t* out) {
  platform::LockGuard lock(transactLock_);
  return CopyRx(out);
}

int32_t CMeiEthernet::Transact(MeiPacket* packet) {
  platform::LockGuard lock(transactLock_);
  return TransactLocked(packet);
}

int32_t CMeiEthernet::TransactLocked(MeiPacket* packet) {
  if (!HasSocket()) return ZARN_E_ETH_NO_SOCKET;
  BeginReceiving();
  struct Done {
    CMeiEthernet* self;
    ~Done() { self->EndReceiving(); }
  } done{this};
  memset(txBuffer_, 0, sizeof txBuffer_);
  const size_t body = frame::BuildBody(*packet, txBuffer_, sizeof txBuffer_);
  if (body == 0) return ZARN_E_ETH_TOO_BIG;
  const bool isRead = !packet->IsWrite();
  // Short writes keep the drive's fixed datagram; longer ones are sent whole.
  txLength_ = isRead ? static_cast<uint16_t>(body)
                     : static_cast<uint16_t>(body < kFixedWriteDatagram ? kFixedWriteDatagram : body);
  if (!Send()) return ZARN_E_ETH_WRITE;
  packet->rxLength = 0;
  pending_ = packet;
  return AwaitReply(*this, kReplyDeadlineMs, ZARN_E_ETH_NO_REPLY);
}

bool CMeiEthernet::Decided(int32_t* code) {
  const uint16_t count = ReceiveCount();
  if (count < kEthernetBufferSize) {
    if (count >= 4 && (rxBuffer_[0] & 0x80)) {
      *code = frame::ExceptionToError(rxBuffer_[1]);
      return true;
    }
    if (count < 12) return false;
    const uint16_t announced = static_cast<uint16_t>(rxBuffer_[10] << 8 | rxBuffer_[11]);
    if (count < 12u + announced) return false;
  }
  *code = Finish();
  return true;
}

int32_t CMeiEthernet::Finish() {
  const uint16_t count = ReceiveCount();
  const uint16_t announced = count >= 12 ? static_cast<uint16_t>(rxBuffer_[10] << 8 | rxBuffer_[11]) : 0;
  // The data are copied before the echo check; never more than was received.
  uint16_t n = count > 12 ? static_cast<uint16_t>(count - 12) : 0;
  if (announced < n) n = announced;
  if (n > sizeof pending_->rxData) n = sizeof pending_->rxData;
  memcpy(pending_->rxData, rxBuffer_ + 12, n);
  pending_->rxLength = n;
  if (count < frame::kReadBodySize || memcmp(rxBuffer_, txBuffer_, frame::kReadBodySize) != 0) return ZARN_E_ETH_ECHO;
  return ZARN_OK;
}

}  // namespace zarn
