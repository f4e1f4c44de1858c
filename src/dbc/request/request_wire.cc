// Field helpers over the stream integers. A read fails when the stream is
// already in error, ends early, or fails; the caller never sees a partial
// field as a value.
#include "dbc/request/request_wire.h"

#include <cerrno>
#include <cstring>

#include "ipc/stream_int.h"

namespace {

int check_read(STREAM *in) { return stream_error(in) ? -1 : 0; }

}  // namespace

int wire_put_u8(STREAM *out, std::uint8_t value) {
  return swrite_blok(&value, 1, out) == 1 ? 0 : -1;
}

int wire_put_u16(STREAM *out, std::uint16_t value) { return w_short(out, value) == 0 ? 0 : -1; }

int wire_put_u32(STREAM *out, std::uint32_t value) {
  return w_long(out, static_cast<std::int32_t>(value)) == 0 ? 0 : -1;
}

int wire_put_bytes(STREAM *out, const void *bytes, std::size_t count) {
  if (count == 0) return 0;
  return swrite_blok(bytes, count, out) == static_cast<long>(count) ? 0 : -1;
}

int wire_put_text(STREAM *out, const char *text, std::size_t max) {
  if (text == nullptr) text = "";
  std::size_t length = max == 0 ? std::strlen(text) : strnlen(text, max);
  if (wire_put_bytes(out, text, length)) return -1;
  return wire_put_u8(out, 0);
}

int wire_get_u8(STREAM *in, std::uint8_t *value) { return wire_get_bytes(in, value, 1); }

int wire_get_u16(STREAM *in, std::uint16_t *value) {
  if (check_read(in)) return -1;
  std::int16_t v = r_short(in);
  if (check_read(in)) return -1;
  *value = static_cast<std::uint16_t>(v);
  return 0;
}

int wire_get_u32(STREAM *in, std::uint32_t *value) {
  if (check_read(in)) return -1;
  std::int32_t v = r_long(in);
  if (check_read(in)) return -1;
  *value = static_cast<std::uint32_t>(v);
  return 0;
}

int wire_get_bytes(STREAM *in, void *bytes, std::size_t count) {
  if (count == 0) return check_read(in);
  if (check_read(in)) return -1;
  if (sread_blok(bytes, count, in) == static_cast<long>(count)) return 0;
  // A field cut short leaves the stream inside a reply.
  in->error = 1;
  if (in->err_no == 0) in->err_no = EIO;
  return -1;
}

int wire_skip(STREAM *in, std::size_t count) {
  unsigned char scratch[512];
  while (count > 0) {
    std::size_t n = count < sizeof scratch ? count : sizeof scratch;
    if (wire_get_bytes(in, scratch, n)) return -1;
    count -= n;
  }
  return 0;
}

int wire_abandon(STREAM *in) {
  if (in != nullptr) {
    in->error = 1;
    in->err_no = EPROTO;
  }
  return -1;
}

int wire_skip_or_abandon(STREAM *in, std::size_t count) {
  if (count > WIRE_SKIP_MAX) return wire_abandon(in);
  return wire_skip(in, count);
}

int wire_get_text(STREAM *in, char *buf, std::size_t size) {
  if (check_read(in)) return -1;
  return r_string(in, buf, size) < 0 ? -1 : 0;
}
