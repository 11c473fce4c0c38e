// A blocking TCP connection to one server port on loopback that speaks the framing as a game
// client does: its own seed byte per packet, the key the server handed over, and a reader that
// keeps frames it was not asked for so later waits can find them.
#pragma once
#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "client/wire.h"

namespace vornhal::client {

using Millis = std::chrono::milliseconds;
inline constexpr Millis kDefaultTimeout{3000};

class Connection {
 public:
  Connection();
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Connects to host:port (loopback by default). Throws ProtocolError on failure or timeout.
  void Connect(uint16_t port, const std::string& host = "127.0.0.1", Millis timeout = kDefaultTimeout);
  void Close();
  bool IsOpen() const { return fd_ >= 0; }
  // The local address later connections are made from (another loopback address such as
  // "127.0.0.2" looks like a second client machine); empty lets the system choose.
  void SetLocalAddress(std::string address) { local_address_ = std::move(address); }
  // The socket receive buffer of later connections in bytes (0: the system's); a small one
  // makes a client that stops reading push back on the server quickly.
  void SetReceiveBuffer(int bytes) { receive_buffer_ = bytes; }

  // Seed byte policy: a fixed seed, or (default) a value that changes with every packet.
  void SetSeed(uint8_t seed) { fixed_seed_ = seed; }
  void SetVaryingSeed() { fixed_seed_.reset(); }
  void SetKey(std::string key) { key_ = std::move(key); }
  const std::string& Key() const { return key_; }
  // The seed byte written into the last seeded packet sent.
  uint8_t LastSeed() const { return last_seed_; }

  // Frames and sends one packet. Throws ProtocolError if the connection is gone.
  void Send(const OutPacket& packet);
  // Sends raw bytes as they are (for malformed input).
  void SendRaw(const std::vector<uint8_t>& bytes);

  // The next frame in arrival order (kept frames first), or nothing within the timeout.
  std::optional<Frame> Next(Millis timeout = kDefaultTimeout);
  // The first frame with this id; frames of other ids stay kept, in order, for later reads.
  std::optional<Frame> WaitFor(TServerPacketId id, Millis timeout = kDefaultTimeout);
  // Every frame up to and including the first one with this id (kept frames first); empty if
  // that id did not arrive within the timeout (what arrived stays kept).
  std::vector<Frame> CollectUntil(TServerPacketId id, Millis timeout = kDefaultTimeout);
  // Everything kept plus everything that arrives until the line stays quiet for `quiet`.
  std::vector<Frame> Drain(Millis quiet = Millis(200));
  // True when the peer closes the connection within the timeout; frames that arrive are kept.
  bool WaitClosed(Millis timeout = kDefaultTimeout);
  // Whether the peer has closed (seen by a read).
  bool PeerClosed() const { return peer_closed_; }
  // Puts frames back in front of the kept ones, in the given order.
  void Unread(std::vector<Frame> frames);
  // Frames received but not yet taken.
  const std::deque<Frame>& Kept() const { return kept_; }

 private:
  // Reads whatever arrives until the deadline or until at least one new frame is complete.
  // Returns false at the deadline or on close without a new frame.
  bool ReadSome(std::chrono::steady_clock::time_point deadline);
  uint8_t NextSeed();

  int fd_ = -1;
  std::string local_address_;
  int receive_buffer_ = 0;
  std::string key_{kDefaultKey};
  std::optional<uint8_t> fixed_seed_;
  uint8_t seed_counter_;
  uint8_t last_seed_ = 0;
  bool peer_closed_ = false;
  std::vector<uint8_t> inbuf_;
  std::deque<Frame> kept_;
};

}  // namespace vornhal::client
