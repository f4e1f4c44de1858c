// Reading requests from, and writing replies to, byte buffers. A request is
// parsed from the bytes received so far: running out of bytes means "wait
// for more" (NeedMore), a field that breaks a bound means the request is
// malformed (Malformed); both are exceptions so that a handler reads its
// fields in wire order without checking each one.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace molvane::driver {

struct NeedMore {};

struct Malformed : std::runtime_error {
  using std::runtime_error::runtime_error;
};

class WireReader {
 public:
  WireReader(const std::uint8_t *data, std::size_t size) : data_(data), size_(size) {}

  std::uint8_t U8();
  std::uint16_t U16();
  std::uint32_t U32();
  // `count` bytes; Malformed when count exceeds `limit`.
  std::string Bytes(std::size_t count, std::size_t limit);
  // The same bytes where they lie, without a copy: valid as long as the
  // buffer read from.
  const std::uint8_t *View(std::size_t count, std::size_t limit);
  void Skip(std::size_t count);
  // A NUL-terminated text of at most `max` characters.
  std::string Text(std::size_t max);
  // The next byte without consuming it.
  std::uint8_t Peek();
  // Hands the unread bytes to a payload parser (data, size, bytes used,
  // error) returning a PayloadStatus, and consumes what it used; NeedMore or
  // Malformed as it answers.
  template <class Parser>
  void Take(Parser parse);

  std::size_t consumed() const { return pos_; }

 private:
  void Need(std::size_t count) const {
    if (size_ - pos_ < count) throw NeedMore{};
  }
  const std::uint8_t *data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

template <class Parser>
void WireReader::Take(Parser parse) {
  std::size_t used = 0;
  std::string error;
  auto status = parse(data_ + pos_, size_ - pos_, &used, &error);
  if (status == decltype(status)::kIncomplete) throw NeedMore{};
  if (status != decltype(status)::kOk) throw Malformed(error);
  pos_ += used;
}

class WireWriter {
 public:
  explicit WireWriter(std::vector<std::uint8_t> &out) : out_(out) {}
  WireWriter &U8(std::uint8_t v) { out_.push_back(v); return *this; }
  WireWriter &U16(std::uint16_t v) { return U8(v >> 8).U8(v & 0xFF); }
  WireWriter &U32(std::uint32_t v) { return U16(v >> 16).U16(v & 0xFFFF); }
  // Overwrites the four bytes at `offset` (written before, or room left for
  // a length learnt later) with v as U32 writes it.
  WireWriter &U32At(std::size_t offset, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out_.at(offset + i) = static_cast<std::uint8_t>(v >> (24 - 8 * i));
    return *this;
  }
  WireWriter &Bytes(const void *p, std::size_t n) {
    const auto *b = static_cast<const std::uint8_t *>(p);
    out_.insert(out_.end(), b, b + n);
    return *this;
  }
  // Appends bytes, taking the vector over when nothing was written yet.
  WireWriter &Adopt(std::vector<std::uint8_t> &&bytes) {
    if (out_.empty())
      out_.swap(bytes);
    else
      out_.insert(out_.end(), bytes.begin(), bytes.end());
    return *this;
  }
  // The reply bytes written so far.
  const std::vector<std::uint8_t> &written() const { return out_; }
  // Drops what was written past the first `size` bytes: a reply that is
  // written again.
  void Truncate(std::size_t size) { out_.resize(std::min(size, out_.size())); }

 private:
  std::vector<std::uint8_t> &out_;
};

}  // namespace molvane::driver
