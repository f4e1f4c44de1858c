#include "common/driver_wire.h"

#include <cstring>

namespace molvane::driver {

std::uint8_t WireReader::U8() {
  Need(1);
  return data_[pos_++];
}

std::uint16_t WireReader::U16() {
  Need(2);
  std::uint16_t v = static_cast<std::uint16_t>(data_[pos_] << 8 | data_[pos_ + 1]);
  pos_ += 2;
  return v;
}

std::uint32_t WireReader::U32() {
  Need(4);
  std::uint32_t v = static_cast<std::uint32_t>(data_[pos_]) << 24 |
                    static_cast<std::uint32_t>(data_[pos_ + 1]) << 16 |
                    static_cast<std::uint32_t>(data_[pos_ + 2]) << 8 | data_[pos_ + 3];
  pos_ += 4;
  return v;
}

std::string WireReader::Bytes(std::size_t count, std::size_t limit) {
  return std::string(reinterpret_cast<const char *>(View(count, limit)), count);
}

const std::uint8_t *WireReader::View(std::size_t count, std::size_t limit) {
  if (count > limit)
    throw Malformed("field of " + std::to_string(count) + " bytes exceeds " +
                    std::to_string(limit));
  Need(count);
  const std::uint8_t *at = data_ + pos_;
  pos_ += count;
  return at;
}

void WireReader::Skip(std::size_t count) {
  Need(count);
  pos_ += count;
}

std::string WireReader::Text(std::size_t max) {
  std::size_t avail = size_ - pos_;
  std::size_t scan = avail < max + 1 ? avail : max + 1;
  const void *nul = std::memchr(data_ + pos_, 0, scan);
  if (nul == nullptr) {
    if (avail > max) throw Malformed("text longer than " + std::to_string(max));
    throw NeedMore{};
  }
  std::size_t length = static_cast<const std::uint8_t *>(nul) - (data_ + pos_);
  std::string s(reinterpret_cast<const char *>(data_ + pos_), length);
  pos_ += length + 1;
  return s;
}

std::uint8_t WireReader::Peek() {
  Need(1);
  return data_[pos_];
}

}  // namespace molvane::driver
