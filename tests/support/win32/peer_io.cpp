// The peers' transports on Windows: the second of two linked COM ports (the
// library opens the first), and a Winsock UDP socket.
#include <winsock2.h>
#include <windows.h>
#include <tlhelp32.h>

#include <chrono>

#include "peers.h"
#include "platform/platform.h"

namespace zarn {
namespace test {

namespace {
// The pair of linked ports the test run sets up (scripts/test-windows).
const char kLibraryPort[] = "COM1";
const char kPeerPort[] = "COM2";
}  // namespace

LinkedPorts LinkedSerialPorts() { return {kPeerPort, kLibraryPort}; }

bool RunningUnderWine() {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

double ProcessCpuSeconds() {
  FILETIME created, exited, kernel, user;
  GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
  auto seconds = [](const FILETIME& f) {
    return ((static_cast<uint64_t>(f.dwHighDateTime) << 32) | f.dwLowDateTime) / 1e7;
  };
  return seconds(kernel) + seconds(user);
}

double ThreadCpuSeconds() {
  FILETIME created, exited, kernel, user;
  GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user);
  auto seconds = [](const FILETIME& f) {
    return ((static_cast<uint64_t>(f.dwHighDateTime) << 32) | f.dwLowDateTime) / 1e7;
  };
  return seconds(kernel) + seconds(user);
}

int DescriptorCount() {
  DWORD handles = 0;
  return GetProcessHandleCount(GetCurrentProcess(), &handles) ? static_cast<int>(handles) : -1;
}

int ThreadCount() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return -1;
  THREADENTRY32 entry;
  entry.dwSize = sizeof entry;
  int n = 0;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
    if (entry.th32OwnerProcessID == GetCurrentProcessId()) ++n;
  CloseHandle(snapshot);
  return n;
}

struct SerialPeer::Io {
  platform::SerialDevice device;
  platform::Mutex writeLock;
};

SerialPeer::SerialPeer() : io_(new Io) {
  if (!io_->device.Open(kPeerPort, 2, 115200, 0, 8, 0)) return;
  slavePath_ = kLibraryPort;
  running_ = true;
  thread_ = std::thread([this] { Run(); });
}

SerialPeer::~SerialPeer() {
  HangUp();
  delete io_;
}

void SerialPeer::HangUp() {
  running_ = false;
  io_->device.Wake();
  if (thread_.joinable()) thread_.join();
  io_->device.Close();
}

void SerialPeer::Send(const Reply& reply) {
  Deliver(reply, [this](const Bytes& b) {
    platform::LockGuard lock(io_->writeLock);
    io_->device.Write(b.data(), static_cast<uint32_t>(b.size()));
  });
}

void SerialPeer::SendRaw(const Bytes& bytes) { Send(Whole(bytes)); }

void SerialPeer::Run() {
  Bytes pending;
  auto lastByte = std::chrono::steady_clock::now();
  while (running_) {
    uint32_t errors = 0, waiting = 0;
    io_->device.ClearErrors(&errors, &waiting);
    if (waiting == 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    } else {
      uint8_t buf[256];
      const int32_t n = io_->device.Read(buf, waiting < sizeof buf ? waiting : sizeof buf);
      if (n > 0) {
        pending.insert(pending.end(), buf, buf + n);
        lastByte = std::chrono::steady_clock::now();
      }
    }
    const auto idle =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - lastByte);
    Feed(&pending, static_cast<int>(idle.count()));
  }
}

struct UdpPeer::Io {
  SOCKET sock = INVALID_SOCKET;
  platform::Mutex lock;
  sockaddr_in last{};
  bool haveLast = false;
};

UdpPeer::UdpPeer() : io_(new Io) {
  WSADATA data;
  WSAStartup(MAKEWORD(2, 2), &data);
  io_->sock = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(io_->sock, reinterpret_cast<sockaddr*>(&a), sizeof a);
  int len = sizeof a;
  getsockname(io_->sock, reinterpret_cast<sockaddr*>(&a), &len);
  port_ = ntohs(a.sin_port);
  running_ = true;
  thread_ = std::thread([this] { Run(); });
}

UdpPeer::~UdpPeer() {
  running_ = false;
  if (thread_.joinable()) thread_.join();
  closesocket(io_->sock);
  WSACleanup();
  delete io_;
}

void UdpPeer::Run() {
  while (running_) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(io_->sock, &readable);
    timeval tv{0, 10000};
    if (select(0, &readable, nullptr, nullptr, &tv) <= 0) continue;
    char buf[2048];
    sockaddr_in from{};
    int len = sizeof from;
    const int n = recvfrom(io_->sock, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
    if (n < 0) continue;
    {
      platform::LockGuard lock(io_->lock);
      io_->last = from;
      io_->haveLast = true;
    }
    Reply reply;
    Record(Bytes(buf, buf + n), &reply);
    Deliver(reply, [&](const Bytes& b) {
      sendto(io_->sock, reinterpret_cast<const char*>(b.data()), static_cast<int>(b.size()), 0,
             reinterpret_cast<sockaddr*>(&from), len);
    });
  }
}

void UdpPeer::SendRaw(const Bytes& bytes) {
  platform::LockGuard lock(io_->lock);
  if (io_->haveLast)
    sendto(io_->sock, reinterpret_cast<const char*>(bytes.data()), static_cast<int>(bytes.size()), 0,
           reinterpret_cast<sockaddr*>(&io_->last), sizeof io_->last);
}

}  // namespace test
}  // namespace zarn
