// CMeiEthernet: the client of one Ethernet connection slot. Brings the
// EtherCAT master online, opens the UDP connection and performs one request
// exchange per request record.
#pragma once

#include <atomic>
#include <cstdint>

#include "core/replywait.h"
#include "ethernet/virtualethernet.h"
#include "platform/platform.h"

namespace zarn {

class CMeiEthernet : public CVirtualEthernet, private ReplySource {
 public:
  CMeiEthernet();
  ~CMeiEthernet();

  bool Connect(const char* setupFile, const char* address, uint16_t port, uint16_t connectWait, uint16_t socketTimeout);
  // Closes the connection; stopMaster asks the master to stop as well.
  void Disconnect(bool stopMaster);
  int32_t Transact(MeiPacket* packet) override;

  void OnReceive(uint16_t, const platform::UdpSocket&) override {}
  void OnSend(uint16_t, const platform::UdpSocket&) override {}
  void OnError(uint32_t, uint32_t) override {}

  uint8_t DriveId() const { return driveId_.load(); }
  void SetDriveId(uint8_t id) { driveId_.store(id); }
  uint16_t LastTx(uint8_t* out);
  uint16_t LastRx(uint8_t* out);

 private:
  int32_t TransactLocked(MeiPacket* packet);
  bool Decided(int32_t* code) override;
  void WaitForMore(uint32_t timeoutMs) override { ReceiveForRequest(timeoutMs); }
  // Copies the reply's data into the request record and checks the echo.
  int32_t Finish();

  MeiPacket* pending_;  // the request being answered

  std::atomic<uint8_t> driveId_;
  platform::Event responseEvent_;
  platform::Mutex transactLock_;
  char setupFile_[256];
};

// Bound of the wait for the master's online mode 2 in Connect.
constexpr uint32_t kOnlineModeWaitMs = 10000;

}  // namespace zarn
