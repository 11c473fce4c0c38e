#include "net/frame_reader.h"

#include <algorithm>

namespace vornhal {

size_t TFrameReader::Feed(const uint8_t* data, size_t size) {
  size_t i = 0;
  while (i < size) {
    switch (mode_) {
      case Mode::kMarker: {
        uint8_t b = data[i++];
        if (b == 0xAA) {
          mode_ = Mode::kLength;
          length_have_ = 0;
          break;
        }
        // Everything else that has arrived goes with the stray byte.
        size_t waiting = size - i;
        i = size;
        if (!on_garbage_(waiting)) return i;
        break;
      }
      case Mode::kLength: {
        length_bytes_[length_have_++] = data[i++];
        if (length_have_ == 2) {
          length_ = (size_t{length_bytes_[0]} << 8) | length_bytes_[1];
          body_.clear();
          mode_ = Mode::kBody;
          if (length_ == 0) {
            mode_ = Mode::kMarker;
            if (!on_body_(nullptr, 0)) return i;
          }
        }
        break;
      }
      case Mode::kBody: {
        size_t take = std::min(length_ - body_.size(), size - i);
        if (body_.empty() && take == length_) {
          // The whole body lies in this read: hand it over without copying.
          const uint8_t* body = data + i;
          i += take;
          mode_ = Mode::kMarker;
          if (!on_body_(body, length_)) return i;
          break;
        }
        body_.insert(body_.end(), data + i, data + i + take);
        i += take;
        if (body_.size() == length_) {
          mode_ = Mode::kMarker;
          bool go_on = on_body_(body_.data(), body_.size());
          // One big frame must not leave its buffer behind on an otherwise idle connection.
          if (body_.capacity() > kKeptBody) std::vector<uint8_t>().swap(body_);
          if (!go_on) return i;
        }
        break;
      }
    }
  }
  return i;
}

}  // namespace vornhal
