// A connection that records every frame sent to it, for observing packets in tests.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "net/connection.h"
#include "net/packet.h"
#include "net/wire.h"

namespace vornhal::test {

// One received frame, unscrambled: id and payload (without marker, length and seed byte).
struct Frame {
  TServerPacketId id{};
  std::vector<uint8_t> payload;
};

class RecordingConnection : public TConnection {
 public:
  explicit RecordingConnection(std::string ip = "127.0.0.1") : ip_(std::move(ip)) {}
  std::string PeerIP() const override { return ip_; }
  bool Connected() const override { return connected_; }
  void Write(const uint8_t* data, size_t size) override { bytes_.insert(bytes_.end(), data, data + size); }
  void Close() override { connected_ = false; closed_ = true; }

  // Raw bytes written so far.
  const std::vector<uint8_t>& Bytes() const { return bytes_; }
  // Frames written so far, unscrambled as a client would.
  std::vector<Frame> Frames() const {
    std::vector<Frame> out;
    size_t i = 0;
    while (i + 3 <= bytes_.size()) {
      size_t len = TWireReader(bytes_.data() + i + 1, 2).U16();
      if (bytes_[i] != 0xAA || i + 3 + len > bytes_.size() || len == 0) break;
      Frame f;
      f.id = static_cast<TServerPacketId>(bytes_[i + 3]);
      if (ServerIdWithoutSeed(bytes_[i + 3])) {
        f.payload.assign(bytes_.begin() + i + 4, bytes_.begin() + i + 3 + len);
      } else if (len >= 2) {
        f.payload.assign(bytes_.begin() + i + 5, bytes_.begin() + i + 3 + len);
        Scramble(f.payload.data(), f.payload.size(), bytes_[i + 4]);
      }
      out.push_back(std::move(f));
      i += 3 + len;
    }
    return out;
  }
  std::vector<TServerPacketId> Ids() const {
    std::vector<TServerPacketId> ids;
    for (const Frame& f : Frames()) ids.push_back(f.id);
    return ids;
  }
  void Clear() { bytes_.clear(); }
  void SetConnected(bool c) { connected_ = c; }
  bool WasClosed() const { return closed_; }

 private:
  std::string ip_;
  bool connected_ = true;
  bool closed_ = false;
  std::vector<uint8_t> bytes_;
};

// The payload of a packet as a client would see it after unscrambling.
inline Frame Unscrambled(TPacket& packet) {
  auto conn = std::make_shared<RecordingConnection>();
  packet.SendTo(conn.get());
  auto frames = conn->Frames();
  return frames.empty() ? Frame{} : frames[0];
}

}  // namespace vornhal::test
