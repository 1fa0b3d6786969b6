#include "ethernet/virtualethernet.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace zarn {

namespace {
constexpr uint32_t kWaitPassMs = 100;
constexpr uint32_t kReceiveErrorPauseMs = 3000;
}  // namespace

CVirtualEthernet::CVirtualEthernet()
    : txLength_(0),
      rxBuffer_(),
      txBuffer_(),
      rxCount_(0),
      address_(),
      port_(50000),
      connectWait_(3),
      socketPresent_(false),
      receiveArea_(),
      openFlag_(false),
      responseEvent_(nullptr) {}

CVirtualEthernet::~CVirtualEthernet() { Close(); }

void CVirtualEthernet::Trace(int line, const char* text) {
  char message[640];
  snprintf(message, sizeof message, "virtualethernet(%d): %.600s", line, text);
  platform::DebugTrace(message);
}

bool CVirtualEthernet::HasSocket() {
  platform::LockGuard lock(socketLock_);
  return socketPresent_;
}

bool CVirtualEthernet::SocketTimeouts(uint32_t* receiveMs, uint32_t* sendMs) {
  platform::LockGuard lock(socketLock_);
  return socketPresent_ && socket_.GetTimeouts(receiveMs, sendMs);
}

bool CVirtualEthernet::Open(const char* address, uint16_t port, uint16_t connectWait, uint16_t socketTimeout) {
  if (openFlag_.load()) return true;
  if (thread_.IsStarted()) {  // a stale event thread: end it, and this open fails
    Close();
    return false;
  }
  memset(txBuffer_, 0, sizeof txBuffer_);
  memset(rxBuffer_, 0, sizeof rxBuffer_);
  txLength_ = 0;
  rxCount_.store(0);
  snprintf(address_, sizeof address_, "%s", address ? address : "");
  port_ = port;
  connectWait_ = connectWait;
  stopEvent_.Reset();
  char failure[512];
  {
    platform::LockGuard lock(socketLock_);
    // Each socket holds one use of the socket library, given back when it is
    // removed: the first starts it, here on the caller's thread.
    if (!platform::SocketLibraryStartup()) {
      platform::ShowMessageBox("WSAStartup is failed!");
      return false;
    }
    if (!socket_.Create()) {
      platform::UdpSocket::FormatLastError("Management socket create error!", failure, sizeof failure);
      Trace(__LINE__, failure);
      platform::SocketLibraryCleanup();
      return false;
    }
    socketPresent_ = true;
    memset(receiveArea_, 0, sizeof receiveArea_);
  }
  if (!socket_.SetTimeouts(socketTimeout) || !socket_.Connect(address_, port_, connectWait_)) {
    Close();
    return false;
  }
  if (!socket_.Watch()) {
    platform::UdpSocket::FormatLastError("WSAEventSelect xnetsock error!", failure, sizeof failure);
    Trace(__LINE__, failure);
    Close();
    return false;
  }
  // The flag is up before the thread starts, so its first pass sees it.
  openFlag_.store(true);
  if (!thread_.Start(&CVirtualEthernet::ThreadEntry, this)) {
    Close();
    return false;
  }
  return true;
}

void CVirtualEthernet::Close() {
  openFlag_.store(false);
  stopEvent_.Set();
  // As with the serial reader: a thread that does not end keeps its socket.
  for (int attempt = 0; attempt < 3 && thread_.IsStarted(); ++attempt) {
    socket_.Wake();
    thread_.Join(1000);
  }
  if (thread_.IsStarted()) {
    Trace(__LINE__, "the event thread did not end; its socket is left open");
    return;
  }
  RemoveSocket();
}

void CVirtualEthernet::RemoveSocket() {
  platform::LockGuard lock(socketLock_);
  if (!socketPresent_) return;
  char peer[64] = "";
  uint16_t peerPort = 0;
  if (socket_.PeerName(peer, sizeof peer, &peerPort)) {
    char text[128];
    snprintf(text, sizeof text, "\nClient Terminated: IP=%s, Port=%d\n", peer, peerPort);
    Trace(__LINE__, text);
  }
  socket_.Close();
  socketPresent_ = false;
  platform::SocketLibraryCleanup();
}

bool CVirtualEthernet::Send() {
  platform::LockGuard lock(socketLock_);
  if (!socketPresent_) return false;
  if (socket_.Send(txBuffer_, txLength_) <= 0) return false;
  OnSend(txLength_, socket_);
  return true;
}

void CVirtualEthernet::ResetReceiveCount() {
  platform::LockGuard lock(rxLock_);
  rxCount_.store(0, std::memory_order_release);
}

uint16_t CVirtualEthernet::CopyTx(uint8_t* out) {
  memcpy(out, txBuffer_, txLength_);
  return txLength_;
}

uint16_t CVirtualEthernet::CopyRx(uint8_t* out) {
  platform::LockGuard lock(rxLock_);
  uint16_t n = rxCount_.load();
  memcpy(out, rxBuffer_, n);
  return n;
}

uint32_t CVirtualEthernet::ThreadEntry(void* self) { return static_cast<CVirtualEthernet*>(self)->EventLoop(); }

uint32_t CVirtualEthernet::EventLoop() {
  while (openFlag_.load()) {
    uint32_t events = 0;
    int readError = 0;
    platform::UdpSocket::WaitResult r = socket_.WaitEvents(kWaitPassMs, &events, &readError);
    if (r == platform::UdpSocket::kWoken || r == platform::UdpSocket::kTimeout) continue;
    if (r == platform::UdpSocket::kWaitFailed) {
      Trace(__LINE__, "\nWSAWaitForMultipleEvents() WSA_WAIT_FAILED");
      stopEvent_.Wait(kWaitPassMs);  // no busy loop on a failing wait
      continue;
    }
    if (!HasSocket()) return 1;
    if (events & platform::UdpSocket::kEventRead) {
      if (readError != 0) {
        char text[64];
        snprintf(text, sizeof text, "\nFD_READ Error(%d)", readError);
        Trace(__LINE__, text);
        continue;
      }
      memset(receiveArea_, 0, sizeof receiveArea_);
      uint32_t received = 0;
      int error = 0;
      platform::UdpSocket::ReceiveResult rr = socket_.Receive(receiveArea_, sizeof receiveArea_, &received, &error);
      if (rr == platform::UdpSocket::kWouldBlock) continue;
      if (rr == platform::UdpSocket::kFailed) {
        Trace(__LINE__, "\nrecvfrom() Error!");
        stopEvent_.Wait(kReceiveErrorPauseMs);
        continue;
      }
      uint16_t count;
      {
        platform::LockGuard lock(rxLock_);
        count = rxCount_.load(std::memory_order_relaxed);
        // Bytes that would pass the 65th are dropped.
        const uint32_t take = std::min<uint32_t>(received, sizeof rxBuffer_ - count);
        memcpy(rxBuffer_ + count, receiveArea_, take);
        count = static_cast<uint16_t>(count + take);
        rxCount_.store(count, std::memory_order_release);
      }
      if (responseEvent_) responseEvent_->Set();
      OnReceive(count, socket_);
      memset(receiveArea_, 0, sizeof receiveArea_);
    }
    if ((events & platform::UdpSocket::kEventClose) && !(events & platform::UdpSocket::kEventConnect)) {
      RemoveSocket();
      return 1;  // nothing left to watch
    }
  }
  return 0;
}

}  // namespace zarn
