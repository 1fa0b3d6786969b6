#include "ethernet/virtualethernet.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace zarn {

namespace {
constexpr uint32_t kWaitFailedPauseMs = 100;
constexpr uint32_t kReceiveErrorPauseMs = 3000;
// The event thread takes over receiving once no request has run for this
// long; until then it stays parked, so back-to-back requests never find it
// on the socket and each reply wakes only its caller.
constexpr uint32_t kTakeOverAfterMs = 250;

uint64_t NowMs() { return platform::MicroTicks() / 1000u; }
}  // namespace

bool IsDottedIPv4(const char* text) {
  if (!text) return false;
  for (int part = 0; part < 4; ++part) {
    if (part > 0 && *text++ != '.') return false;
    if (*text < '0' || *text > '9') return false;
    if (*text == '0' && text[1] >= '0' && text[1] <= '9') return false;  // no leading zeros (inet_addr reads octal)
    unsigned value = 0;
    int digits = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
      if (++digits > 3) return false;
      value = value * 10 + static_cast<unsigned>(*text - '0');
    }
    if (value > 255) return false;
  }
  return *text == '\0';
}

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
      requestReceiving_(false),
      eventThreadWatching_(false),
      lastRequestEnd_(0),
      pauseUntilMs_(0),
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
  if (!IsDottedIPv4(address)) return false;
  memset(txBuffer_, 0, sizeof txBuffer_);
  memset(rxBuffer_, 0, sizeof rxBuffer_);
  txLength_ = 0;
  rxCount_.store(0);
  snprintf(address_, sizeof address_, "%s", address);
  port_ = port;
  connectWait_ = connectWait;
  stopEvent_.Reset();
  requestReceiving_.store(false);
  eventThreadWatching_.store(false);
  lastRequestEnd_.store(platform::TickCount());
  pauseUntilMs_.store(0);
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
  if (!platform::StopThread(thread_, [this] { socket_.Wake(); })) {
    Trace(__LINE__, "the event thread did not end; its socket is left open");
    return;
  }
  RemoveSocket();
}

void CVirtualEthernet::RemoveSocket() {
  platform::LockGuard lock(socketLock_);
  if (!socket_.IsCreated()) return;
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

void CVirtualEthernet::BeginReceiving() {
  requestReceiving_.store(true);
  // The event thread may be waiting on the socket (the connection was idle):
  // move it off, so the reply wakes this thread alone.
  if (eventThreadWatching_.load()) socket_.Wake();
  platform::LockGuard lock(rxLock_);
  socket_.Discard();
  rxCount_.store(0, std::memory_order_release);
}

void CVirtualEthernet::EndReceiving() {
  lastRequestEnd_.store(platform::TickCount());
  requestReceiving_.store(false);
}

uint32_t CVirtualEthernet::PauseLeftMs() const {
  const uint64_t until = pauseUntilMs_.load();
  const uint64_t now = NowMs();
  return until > now ? static_cast<uint32_t>(until - now) : 0;
}

void CVirtualEthernet::ReceiveForRequest(uint32_t timeoutMs) {
  // After a receive error nobody receives for a while; the request waits it out.
  const uint32_t pause = PauseLeftMs();
  if (pause > 0) {
    stopEvent_.Wait(std::min(pause, timeoutMs));
    return;
  }
  if (socket_.WaitReadable(timeoutMs)) ReceiveOne(false);
}

void CVirtualEthernet::ReceiveOne(bool eventThread) {
  uint16_t count;
  {
    platform::LockGuard lock(rxLock_);
    if (eventThread && requestReceiving_.load()) return;  // the request's caller receives
    memset(receiveArea_, 0, sizeof receiveArea_);
    uint32_t received = 0;
    int error = 0;
    const platform::UdpSocket::ReceiveResult r = socket_.Receive(receiveArea_, sizeof receiveArea_, &received, &error);
    if (r == platform::UdpSocket::kWouldBlock) return;
    if (r == platform::UdpSocket::kFailed) {
      Trace(__LINE__, "\nrecvfrom() Error!");
      pauseUntilMs_.store(NowMs() + kReceiveErrorPauseMs);
      return;
    }
    count = rxCount_.load(std::memory_order_relaxed);
    // Bytes that would pass the 65th are dropped.
    const uint32_t take = std::min<uint32_t>(received, sizeof rxBuffer_ - count);
    memcpy(rxBuffer_ + count, receiveArea_, take);
    count = static_cast<uint16_t>(count + take);
    rxCount_.store(count, std::memory_order_release);
    memset(receiveArea_, 0, sizeof receiveArea_);
  }
  if (!eventThread) return;
  if (responseEvent_) responseEvent_->Set();
  OnReceive(count, socket_);
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
    // Parked while requests run: they receive for themselves. The park ends
    // at close, or after a quiet spell, when this thread takes over.
    if (requestReceiving_.load()) {
      stopEvent_.Wait(kTakeOverAfterMs);
      continue;
    }
    const uint32_t quiet = platform::TickCount() - lastRequestEnd_.load();
    if (quiet < kTakeOverAfterMs) {
      stopEvent_.Wait(kTakeOverAfterMs - quiet);
      continue;
    }
    const uint32_t pause = PauseLeftMs();
    if (pause > 0) {
      stopEvent_.Wait(pause);
      continue;
    }
    // Watching is announced before the last look at the request flag, and a
    // request raises its flag before it looks at this one: either this thread
    // sees the request, or the request sees it watching and wakes it.
    eventThreadWatching_.store(true);
    if (requestReceiving_.load()) {
      eventThreadWatching_.store(false);
      continue;
    }
    uint32_t events = 0;
    int readError = 0;
    // No time-out: an idle connection costs nothing; Close and requests wake it.
    const platform::UdpSocket::WaitResult r = socket_.WaitEvents(platform::kWaitForever, &events, &readError);
    eventThreadWatching_.store(false);
    if (r == platform::UdpSocket::kWoken || r == platform::UdpSocket::kTimeout) continue;
    if (r == platform::UdpSocket::kWaitFailed) {
      Trace(__LINE__, "\nWSAWaitForMultipleEvents() WSA_WAIT_FAILED");
      stopEvent_.Wait(kWaitFailedPauseMs);  // no busy loop on a failing wait
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
      ReceiveOne(true);
    }
    if ((events & platform::UdpSocket::kEventClose) && !(events & platform::UdpSocket::kEventConnect)) {
      // Nothing is sent any more; the socket itself is released by Close,
      // never under a request that may still use it.
      platform::LockGuard lock(socketLock_);
      socketPresent_ = false;
      return 1;
    }
  }
  return 0;
}

}  // namespace zarn
