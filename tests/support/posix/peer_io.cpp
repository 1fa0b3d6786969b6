// The peers' transports on POSIX: a pseudo-terminal and a BSD UDP socket.
#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <sys/socket.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <mutex>

#include "peers.h"

namespace zarn {
namespace test {

bool RunningUnderWine() { return false; }

LinkedPorts LinkedSerialPorts() { return {}; }

double ProcessCpuSeconds() {
  timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return t.tv_sec + t.tv_nsec / 1e9;
}

double ThreadCpuSeconds() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return t.tv_sec + t.tv_nsec / 1e9;
}

namespace {
int EntriesOf(const char* folder) {
  int n = 0;
  if (DIR* d = opendir(folder)) {
    while (dirent* e = readdir(d))
      if (e->d_name[0] != '.') ++n;
    closedir(d);
  }
  return n;
}
}  // namespace

int ThreadCount() { return EntriesOf("/proc/self/task"); }

int DescriptorCount() { return EntriesOf("/proc/self/fd") - 1; }  // less the one opendir holds

struct SerialPeer::Io {
  int master = -1;
  int slave = -1;  // kept open so the line never hangs up
};

SerialPeer::SerialPeer() : io_(new Io) {
  char name[128];
  termios tio;
  cfmakeraw(&tio);
  if (openpty(&io_->master, &io_->slave, name, &tio, nullptr) != 0) return;
  slavePath_ = name;
  running_ = true;
  thread_ = std::thread([this] { Run(); });
}

SerialPeer::~SerialPeer() {
  HangUp();
  delete io_;
}

void SerialPeer::HangUp() {
  running_ = false;
  if (thread_.joinable()) thread_.join();
  if (io_->master >= 0) close(io_->master);
  if (io_->slave >= 0) close(io_->slave);
  io_->master = io_->slave = -1;
}

void SerialPeer::Send(const Reply& reply) {
  Deliver(reply, [this](const Bytes& b) {
    ssize_t w = write(io_->master, b.data(), b.size());
    (void)w;
  });
}

void SerialPeer::SendRaw(const Bytes& bytes) { Send(Whole(bytes)); }

void SerialPeer::Run() {
  Bytes pending;
  auto lastByte = std::chrono::steady_clock::now();
  while (running_) {
    pollfd p{io_->master, POLLIN, 0};
    if (poll(&p, 1, 10) > 0 && (p.revents & POLLIN)) {
      uint8_t buf[256];
      ssize_t n = read(io_->master, buf, sizeof buf);
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
  int fd = -1;
  std::mutex lock;
  sockaddr_in last{};
  bool haveLast = false;
};

UdpPeer::UdpPeer() : io_(new Io) {
  io_->fd = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(io_->fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  getsockname(io_->fd, reinterpret_cast<sockaddr*>(&a), &len);
  port_ = ntohs(a.sin_port);
  running_ = true;
  thread_ = std::thread([this] { Run(); });
}

UdpPeer::~UdpPeer() {
  running_ = false;
  if (thread_.joinable()) thread_.join();
  close(io_->fd);
  delete io_;
}

void UdpPeer::Run() {
  while (running_) {
    pollfd p{io_->fd, POLLIN, 0};
    if (poll(&p, 1, 10) <= 0) continue;
    uint8_t buf[2048];
    sockaddr_in from{};
    socklen_t len = sizeof from;
    ssize_t n = recvfrom(io_->fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
    if (n < 0) continue;
    {
      std::lock_guard<std::mutex> lock(io_->lock);
      io_->last = from;
      io_->haveLast = true;
    }
    Reply reply;
    Record(Bytes(buf, buf + n), &reply);
    Deliver(reply,
            [&](const Bytes& b) { sendto(io_->fd, b.data(), b.size(), 0, reinterpret_cast<sockaddr*>(&from), len); });
  }
}

void UdpPeer::SendRaw(const Bytes& bytes) {
  std::lock_guard<std::mutex> lock(io_->lock);
  if (io_->haveLast)
    sendto(io_->fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&io_->last), sizeof io_->last);
}

}  // namespace test
}  // namespace zarn
