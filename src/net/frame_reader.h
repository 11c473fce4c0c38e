// Cuts a received byte stream into frame bodies (0xAA, u16 big-endian length, body). The state
// survives between reads, so a frame arriving in pieces is delivered once, after its last byte.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace vornhal {

class TFrameReader {
 public:
  // Called with the number of bytes that were still waiting after a byte that should have been
  // a marker; those bytes are discarded with it. Returns false to stop taking bytes.
  using GarbageFn = std::function<bool(size_t waiting)>;
  // Called once per complete body (possibly empty). Returns false to stop taking bytes.
  using BodyFn = std::function<bool(const uint8_t* body, size_t size)>;

  TFrameReader(GarbageFn on_garbage, BodyFn on_body)
      : on_garbage_(std::move(on_garbage)), on_body_(std::move(on_body)) {}

  // Takes the bytes of one read, in order. Each body is handed over before the bytes after it
  // are looked at. Stops early when a callback returns false; returns how many bytes were
  // taken (all of them unless stopped), so the caller can feed the rest later.
  size_t Feed(const uint8_t* data, size_t size);

  // True between a marker and the last byte of its body.
  bool InFrame() const { return mode_ != Mode::kMarker; }

 private:
  enum class Mode { kMarker, kLength, kBody };
  static constexpr size_t kKeptBody = 4096;

  GarbageFn on_garbage_;
  BodyFn on_body_;
  Mode mode_ = Mode::kMarker;
  uint8_t length_bytes_[2] = {0, 0};
  size_t length_have_ = 0;
  size_t length_ = 0;
  std::vector<uint8_t> body_;
};

}  // namespace vornhal
