#include "endpoints.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "protocol/frame.h"

namespace zarn {
namespace sim {

namespace {

// The silence that ends a frame of unknown length (far above 3.5 characters at any speed here).
constexpr std::chrono::milliseconds kFrameGap{10};

void Pause(int ms) {
  if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void AppendCrc(Bytes* b) {
  const uint16_t crc = frame::Crc16(b->data(), b->size());
  b->push_back(uint8_t(crc & 0xFF));
  b->push_back(uint8_t(crc >> 8));
}

}  // namespace

std::string HexText(const uint8_t* data, size_t n) {
  std::string s;
  char t[4];
  for (size_t i = 0; i < n; ++i) {
    snprintf(t, sizeof t, i ? " %02X" : "%02X", data[i]);
    s += t;
  }
  return s;
}

std::string Describe(const uint8_t* body, size_t n) {
  if (n < 8) return "short request";
  char t[64];
  snprintf(t, sizeof t, "%s %04X:%02X", body[2] == 0x80 ? "write" : "read", body[5] << 8 | body[6], body[7]);
  return t;
}

// ---------------------------------------------------------------- UDP
UdpEndpoint::UdpEndpoint(Drive& drive, const std::string& host, uint16_t port, bool trace)
    : drive_(drive), trace_(trace) {
  if (socket_.Bind(host, port, &error_)) thread_ = std::thread([this] { Run(); });
}

UdpEndpoint::~UdpEndpoint() {
  running_ = false;
  if (thread_.joinable()) thread_.join();
}

void UdpEndpoint::Run() {
  uint8_t in[2048];
  while (running_) {
    os::Sender from;
    const int n = socket_.Receive(in, sizeof in, &from, 100);
    if (n <= 0) continue;
    const Faults f = drive_.GetFaults();
    const Answer a = drive_.Handle(in, size_t(n));
    Bytes reply;
    if (a.exception) {
      reply = {uint8_t(a.function | 0x80), a.code, 0x00, 0x00};  // padded to the 4 bytes a client needs
    } else if (a.isRead) {
      reply.assign(in, in + 8);
      reply.push_back(0);
      reply.push_back(0);
      reply.push_back(uint8_t(a.data.size() >> 8));
      reply.push_back(uint8_t(a.data.size()));
      reply.insert(reply.end(), a.data.begin(), a.data.end());
    } else {
      const size_t count = size_t(in[10]) << 8 | in[11];
      reply.assign(in, in + std::min(size_t(n), 12 + count));
    }
    if (f.badEcho && reply.size() >= 8 && !a.exception) reply[7] ^= 0x01;
    if (f.oversize) reply.resize(200, 0xEE);
    const bool drop = drive_.DropNext();
    if (trace_) {
      printf("udp %u <- %s (%s)\n", drive_.Id(), HexText(in, size_t(n)).c_str(), Describe(in, size_t(n)).c_str());
      printf("udp %u -> %s%s\n", drive_.Id(), drop ? "(dropped) " : "", HexText(reply.data(), reply.size()).c_str());
      fflush(stdout);
    }
    if (drop) continue;
    Pause(f.delayMs);
    socket_.Send(reply.data(), reply.size(), from);
  }
}

// ---------------------------------------------------------------- serial
SerialEndpoint::SerialEndpoint(std::vector<Drive*> drives, const std::string& device, uint32_t baud, bool trace)
    : drives_(std::move(drives)), trace_(trace) {
  const bool open = device.empty() ? line_.OpenPseudoTerminal(&path_, &error_) : line_.Open(device, baud, &error_);
  if (!open) return;
  if (!device.empty()) path_ = device;
  thread_ = std::thread([this] { Run(); });
}

SerialEndpoint::~SerialEndpoint() {
  running_ = false;
  if (thread_.joinable()) thread_.join();
}

void SerialEndpoint::Answer(const uint8_t* frameBytes, size_t length) {
  Drive* drive = nullptr;
  for (Drive* d : drives_)
    if (d->Id() == frameBytes[0]) drive = d;
  if (!drive) return;  // another unit's request: not ours to answer
  const uint16_t crc = frame::Crc16(frameBytes, length - 2);
  if (frameBytes[length - 2] != (crc & 0xFF) || frameBytes[length - 1] != (crc >> 8)) {
    if (trace_) printf("serial %u <- %s (bad CRC: no reply)\n", drive->Id(), HexText(frameBytes, length).c_str());
    return;  // a damaged frame gets no reply, as on a real line
  }
  const Faults f = drive->GetFaults();
  const sim::Answer a = drive->Handle(frameBytes + 1, length - 3);
  Bytes reply;
  if (a.exception) {
    reply = {frameBytes[0], uint8_t(a.function | 0x80), a.code};
    AppendCrc(&reply);
  } else if (a.isRead) {
    reply.assign(frameBytes, frameBytes + length);
    reply.push_back(uint8_t(a.data.size() >> 8));
    reply.push_back(uint8_t(a.data.size()));
    reply.insert(reply.end(), a.data.begin(), a.data.end());
    AppendCrc(&reply);
  } else {
    reply.assign(frameBytes, frameBytes + length);
  }
  if (f.badEcho && !a.exception) {
    reply[8] ^= 0x01;  // the subindex
    reply.resize(reply.size() - 2);
    AppendCrc(&reply);
  }
  if (f.oversize) {
    reply.resize(reply.size() - 2);
    reply.resize(100, 0xEE);
    AppendCrc(&reply);
  }
  if (f.badCrc) reply.back() ^= 0xFF;
  const bool drop = drive->DropNext();
  if (trace_) {
    printf("serial %u <- %s (%s)\n", drive->Id(), HexText(frameBytes, length).c_str(),
           Describe(frameBytes + 1, length - 3).c_str());
    printf("serial %u -> %s%s\n", drive->Id(), drop ? "(dropped) " : "", HexText(reply.data(), reply.size()).c_str());
    fflush(stdout);
  }
  if (drop) return;
  Pause(f.delayMs);
  const size_t piece = f.chunkSize > 0 ? size_t(f.chunkSize) : reply.size();
  for (size_t at = 0; at < reply.size(); at += piece) {
    if (at > 0) Pause(f.chunkGapMs);
    line_.Write(reply.data() + at, std::min(piece, reply.size() - at));
  }
}

void SerialEndpoint::Run() {
  uint8_t in[512];
  size_t have = 0;
  auto lastByte = std::chrono::steady_clock::now();
  while (running_) {
    const int n = line_.Read(in + have, sizeof in - have, 20);
    if (n > 0) {
      have += size_t(n);
      lastByte = std::chrono::steady_clock::now();
    } else if (n < 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));  // a line error: no busy loop
    }
    // 0x2B frames are found by their own length fields. A frame with another
    // function code ends where the line falls quiet; when its CRC holds, its
    // unit gets exception 1. Other bytes are skipped one at a time.
    const bool quiet = std::chrono::steady_clock::now() - lastByte > kFrameGap;
    while (have >= 4) {
      if (in[1] != 0x2B) {
        if (!quiet) break;
        const uint16_t crc = frame::Crc16(in, have - 2);
        if (in[have - 2] == (crc & 0xFF) && in[have - 1] == (crc >> 8)) {
          Answer(in, have);
          have = 0;
        } else {
          memmove(in, in + 1, --have);
        }
        continue;
      }
      size_t length = 0;
      if (in[3] == 0x80) {
        if (have < 13) break;
        length = 15 + (size_t(in[11]) << 8 | in[12]);
      } else {
        length = 11;
      }
      if (length > frame::kSerialTxSize) {  // no request is that long
        memmove(in, in + 1, --have);
        continue;
      }
      if (have < length) break;
      Answer(in, length);
      memmove(in, in + length, have - length);
      have -= length;
    }
    // A partial frame that stays incomplete is line noise.
    if (have > 0 && std::chrono::steady_clock::now() - lastByte > std::chrono::milliseconds(200)) have = 0;
    if (have == sizeof in) have = 0;
  }
}

}  // namespace sim
}  // namespace zarn
