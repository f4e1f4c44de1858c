// Field helpers of the request protocol over the stream integers: each
// returns 0, or -1 when the stream fails or ends before the field is whole.
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "ipc/stream.h"

int wire_put_u8(STREAM *out, std::uint8_t value);
int wire_put_u16(STREAM *out, std::uint16_t value);
int wire_put_u32(STREAM *out, std::uint32_t value);
int wire_put_bytes(STREAM *out, const void *bytes, std::size_t count);
// The text's first `max` characters (all when max is 0) and a NUL.
int wire_put_text(STREAM *out, const char *text, std::size_t max = 0);

// The fields of one request or field group, written in one go: when at
// most `room` bytes are put and they fit in the stream's write buffer, each
// field is stored there big-endian with no call per field; otherwise each
// goes out through the field helpers above. done() counts the stored bytes
// as written and gives 0, or -1 when a field helper failed.
class WireFields {
 public:
  WireFields(STREAM *out, std::size_t room)
      : out_(out), at_(stream_wreserve(out, room)),
        start_(at_),
        end_(at_ != nullptr ? at_ + room : nullptr) {}
  WireFields(const WireFields &) = delete;
  WireFields &operator=(const WireFields &) = delete;

  void u8(std::uint8_t value) {
    if (Direct(1)) {
      *at_++ = value;
    } else if (ok_) {
      ok_ = wire_put_u8(out_, value) == 0;
    }
  }
  void u16(std::uint16_t value) {
    if (Direct(2)) {
      // Through a local pointer: a store through at_ could change at_
      // itself as far as the compiler knows, so it would be read anew.
      unsigned char *p = at_;
      p[0] = static_cast<unsigned char>(value >> 8);
      p[1] = static_cast<unsigned char>(value);
      at_ = p + 2;
    } else if (ok_) {
      ok_ = wire_put_u16(out_, value) == 0;
    }
  }
  void u32(std::uint32_t value) {
    if (Direct(4)) {
      unsigned char *p = at_;
      p[0] = static_cast<unsigned char>(value >> 24);
      p[1] = static_cast<unsigned char>(value >> 16);
      p[2] = static_cast<unsigned char>(value >> 8);
      p[3] = static_cast<unsigned char>(value);
      at_ = p + 4;
    } else if (ok_) {
      ok_ = wire_put_u32(out_, value) == 0;
    }
  }
  void bytes(const void *data, std::size_t count) {
    if (count == 0) return;
    if (Direct(count)) {
      if (count <= 16)
        CopySmall(at_, static_cast<const unsigned char *>(data), count);
      else
        std::memcpy(at_, data, count);
      at_ += count;
    } else if (ok_) {
      ok_ = wire_put_bytes(out_, data, count) == 0;
    }
  }
  // The first `length` characters of text and a NUL.
  void text(const char *text, std::size_t length) {
    bytes(text, length);
    u8(0);
  }
  // The first `length` characters of a char[N] array and a NUL, length < N.
  // In the buffer the whole array goes in as one copy of a known size (no
  // library call) and the position moves past the text and its NUL only:
  // the bytes after the NUL are reserved room that later fields overwrite
  // or that is never committed.
  template <std::size_t N>
  void text_of(const char (&array)[N], std::size_t length) {
    assert(length < N);
    if (at_ != nullptr && static_cast<std::size_t>(end_ - at_) >= N) {
      std::memcpy(at_, array, N);
      at_[length] = 0;
      at_ += length + 1;
    } else {
      text(array, length);
    }
  }
  int done() {
    if (at_ != nullptr) {
      stream_wcommit(out_, static_cast<std::size_t>(at_ - start_));
      start_ = at_;
    }
    return ok_ ? 0 : -1;
  }

 private:
  // Copies 1 to 16 bytes as two overlapping loads and stores: a key or a
  // short row costs no library call.
  static void CopySmall(unsigned char *to, const unsigned char *from, std::size_t count) {
    if (count >= 8) {
      std::uint64_t head, tail;
      std::memcpy(&head, from, 8);
      std::memcpy(&tail, from + count - 8, 8);
      std::memcpy(to, &head, 8);
      std::memcpy(to + count - 8, &tail, 8);
    } else if (count >= 4) {
      std::uint32_t head, tail;
      std::memcpy(&head, from, 4);
      std::memcpy(&tail, from + count - 4, 4);
      std::memcpy(to, &head, 4);
      std::memcpy(to + count - 4, &tail, 4);
    } else {
      const unsigned char first = from[0], middle = from[count / 2], last = from[count - 1];
      to[0] = first;
      to[count / 2] = middle;
      to[count - 1] = last;
    }
  }

  // Stores go straight to the buffer; `count` more bytes stay in the room.
  bool Direct([[maybe_unused]] std::size_t count) const {
    assert(at_ == nullptr || count <= static_cast<std::size_t>(end_ - at_));
    return at_ != nullptr;
  }

  STREAM *out_;
  unsigned char *at_;
  unsigned char *start_;
  unsigned char *end_;
  bool ok_ = true;
};

int wire_get_u8(STREAM *in, std::uint8_t *value);
int wire_get_u16(STREAM *in, std::uint16_t *value);
int wire_get_u32(STREAM *in, std::uint32_t *value);
int wire_get_bytes(STREAM *in, void *bytes, std::size_t count);
// Reads and drops count bytes (keeps the stream in step after a refusal).
int wire_skip(STREAM *in, std::size_t count);
// Most bytes a refused reply field is read past to keep the stream in step.
inline constexpr std::size_t WIRE_SKIP_MAX = std::size_t{1} << 20;
// Marks the input stream out of step: a reply was refused before its end,
// so nothing after it can be read as a reply. The round trip then closes the
// driver's streams. Returns -1.
int wire_abandon(STREAM *in);
// Skips a refused field of count bytes when it is at most WIRE_SKIP_MAX
// bytes, else abandons the stream; 0 when the stream is still in step.
int wire_skip_or_abandon(STREAM *in, std::size_t count);
// Reads a NUL-terminated text into buf (size bytes with its NUL). A longer
// text is refused with -1 and leaves the stream abandoned.
int wire_get_text(STREAM *in, char *buf, std::size_t size);
