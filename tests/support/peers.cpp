#include "peers.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace zarn {
namespace test {

namespace {
// Bit-by-bit CRC-16/MODBUS, independent of the library's table-driven one.
uint16_t CrcBitwise(const uint8_t* d, size_t n) {
  uint16_t crc = 0xFFFF;
  for (size_t i = 0; i < n; ++i) {
    crc ^= d[i];
    for (int b = 0; b < 8; ++b)
      crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : static_cast<uint16_t>(crc >> 1);
  }
  return crc;
}

}  // namespace

void AppendCrc(Bytes* frame) {
  uint16_t crc = CrcBitwise(frame->data(), frame->size());
  frame->push_back(static_cast<uint8_t>(crc & 0xFF));
  frame->push_back(static_cast<uint8_t>(crc >> 8));
}

std::string Hex(const Bytes& b) {
  std::string s;
  char t[4];
  for (size_t i = 0; i < b.size(); ++i) {
    snprintf(t, sizeof t, i ? " %02X" : "%02X", b[i]);
    s += t;
  }
  return s;
}

Bytes SerialReadRequest(uint8_t address, uint16_t index, uint8_t sub) {
  Bytes f{address, 0x2B, 0x0D, 0x00, 0x00, 0x00, uint8_t(index >> 8), uint8_t(index), sub};
  AppendCrc(&f);
  return f;
}

// ---------------------------------------------------------------- PeerBase
void PeerBase::SetResponder(Responder r) {
  std::lock_guard<std::mutex> lock(mutex_);
  responder_ = std::move(r);
}

std::vector<Bytes> PeerBase::Requests() {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

void PeerBase::ClearRequests() {
  std::lock_guard<std::mutex> lock(mutex_);
  requests_.clear();
  requestTimes_.clear();
  replyTimes_.clear();
}

std::vector<PeerBase::Clock::time_point> PeerBase::RequestTimes() {
  std::lock_guard<std::mutex> lock(mutex_);
  return requestTimes_;
}

std::vector<PeerBase::Clock::time_point> PeerBase::ReplyTimes() {
  std::lock_guard<std::mutex> lock(mutex_);
  return replyTimes_;
}

bool PeerBase::WaitForRequests(size_t n, int timeoutMs) {
  std::unique_lock<std::mutex> lock(mutex_);
  return arrived_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return requests_.size() >= n; });
}

void PeerBase::Record(const Bytes& request, Reply* reply) {
  Responder r;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.push_back(request);
    requestTimes_.push_back(Clock::now());
    r = responder_;
  }
  arrived_.notify_all();
  if (r) *reply = r(request);
}

void PeerBase::Deliver(const Reply& reply, const std::function<void(const Bytes&)>& send) {
  for (const Chunk& c : reply) {
    if (c.delayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(c.delayMs));
    send(c.bytes);
  }
  if (reply.empty()) return;
  std::lock_guard<std::mutex> lock(mutex_);
  replyTimes_.push_back(Clock::now());
}

// ---------------------------------------------------------------- SerialPeer
void SerialPeer::Feed(Bytes* pending, int idleMs) {
  // Split the stream into request frames by their own length fields.
  for (;;) {
    size_t length = 0;
    if (pending->size() >= 4 && (*pending)[1] == 0x2B) {
      if ((*pending)[3] == 0x80) {
        if (pending->size() >= 13) length = 15 + (size_t((*pending)[11]) << 8 | (*pending)[12]);
      } else {
        length = 11;
      }
    }
    Bytes frame;
    if (length && pending->size() >= length) {
      frame.assign(pending->begin(), pending->begin() + length);
      pending->erase(pending->begin(), pending->begin() + length);
    } else if (!pending->empty() && idleMs > 40) {  // something that is no frame: hand it over as it is
      frame.swap(*pending);
    } else {
      return;
    }
    Reply reply;
    Record(frame, &reply);
    Send(reply);
  }
}

// ---------------------------------------------------------------- DriveModel
namespace {
uint32_t Key(uint16_t index, uint8_t sub) { return uint32_t(index) << 8 | sub; }
}  // namespace

void DriveModel::Set(uint16_t index, uint8_t sub, Bytes value) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto& v : values_)
    if (v.first == Key(index, sub)) {
      v.second = std::move(value);
      return;
    }
  values_.emplace_back(Key(index, sub), std::move(value));
}

Bytes DriveModel::Get(uint16_t index, uint8_t sub) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto& v : values_)
    if (v.first == Key(index, sub)) return v.second;
  return {};
}

void DriveModel::Refuse(uint16_t index, uint8_t sub, uint8_t code) {
  std::lock_guard<std::mutex> lock(mutex_);
  refused_.emplace_back(Key(index, sub), code);
}

std::vector<DriveModel::Access> DriveModel::Log() {
  std::lock_guard<std::mutex> lock(mutex_);
  return log_;
}

void DriveModel::ClearLog() {
  std::lock_guard<std::mutex> lock(mutex_);
  log_.clear();
}

DriveModel::Outcome DriveModel::Answer(const uint8_t* body, size_t n) {
  Outcome out;
  if (n < 8 || body[0] != 0x2B || body[1] != 0x0D) {
    out.exception = true;
    out.code = 1;
    return out;
  }
  const bool write = body[2] == 0x80;
  const uint16_t index = uint16_t(body[5] << 8 | body[6]);
  const uint8_t sub = body[7];
  Bytes data;
  if (write && n >= 12) {
    size_t count = size_t(body[10]) << 8 | body[11];
    data.assign(body + 12, body + std::min(n, 12 + count));
  }
  std::lock_guard<std::mutex> lock(mutex_);
  log_.push_back(Access{write, index, sub, data});
  for (auto& r : refused_)
    if (r.first == Key(index, sub)) {
      out.exception = true;
      out.code = r.second;
      return out;
    }
  out.read = !write;
  for (auto& v : values_) {
    if (v.first != Key(index, sub)) continue;
    if (write)
      v.second = data;
    else
      out.data = v.second;
    return out;
  }
  if (write) {
    values_.emplace_back(Key(index, sub), data);
    return out;
  }
  out.exception = true;  // no such object
  out.code = 2;
  return out;
}

Responder DriveModel::Serial(uint8_t address) {
  return [this, address](const Bytes& req) -> Reply {
    if (req.size() < 5 || req[0] != address) return {};
    if (CrcBitwise(req.data(), req.size() - 2) != uint16_t(req[req.size() - 2] | req[req.size() - 1] << 8)) return {};
    Outcome o = Answer(req.data() + 1, req.size() - 3);
    Bytes reply;
    if (o.exception) {
      reply = {address, 0xAB, o.code};
      AppendCrc(&reply);
    } else if (o.read) {
      reply = req;
      reply.push_back(uint8_t(o.data.size() >> 8));
      reply.push_back(uint8_t(o.data.size()));
      reply.insert(reply.end(), o.data.begin(), o.data.end());
      AppendCrc(&reply);
    } else {
      reply = req;
    }
    return Whole(reply);
  };
}

Responder DriveModel::Ethernet() {
  return [this](const Bytes& req) -> Reply {
    Outcome o = Answer(req.data(), req.size());
    Bytes reply;
    if (o.exception) {
      reply = {0xAB, o.code, 0x00, 0x00};
    } else if (o.read) {
      reply.assign(req.begin(), req.begin() + 8);
      reply.push_back(0);
      reply.push_back(0);
      reply.push_back(uint8_t(o.data.size() >> 8));
      reply.push_back(uint8_t(o.data.size()));
      reply.insert(reply.end(), o.data.begin(), o.data.end());
    } else {
      size_t count = size_t(req[10]) << 8 | req[11];
      reply.assign(req.begin(), req.begin() + std::min(req.size(), 12 + count));
    }
    return Whole(reply);
  };
}

}  // namespace test
}  // namespace zarn
