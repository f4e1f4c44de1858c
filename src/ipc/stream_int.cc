// Integers and strings on a stream, big-endian field by field.
#include "ipc/stream_int.h"

#include <errno.h>

#include "platform/log.h"

namespace {

// Reads exactly n bytes; false (stream error flag set) at a short read.
bool ReadExact(STREAM *s, unsigned char *buf, size_t n) {
  long got = sread_blok(buf, n, s);
  if (got == static_cast<long>(n)) return true;
  if (s != nullptr) {
    s->error = 1;
    if (got >= 0) s->err_no = errno = EIO;
  }
  return false;
}

}  // namespace

extern "C" {

int w_short(STREAM *stream, int value) {
  unsigned v = static_cast<unsigned>(value) & 0xffffu;
  unsigned char b[2] = {static_cast<unsigned char>(v >> 8), static_cast<unsigned char>(v)};
  return swrite_blok(b, 2, stream) == 2 ? 0 : -1;
}

int w_long(STREAM *stream, int32_t value) {
  uint32_t v = static_cast<uint32_t>(value);
  unsigned char b[4] = {static_cast<unsigned char>(v >> 24), static_cast<unsigned char>(v >> 16),
                        static_cast<unsigned char>(v >> 8), static_cast<unsigned char>(v)};
  return swrite_blok(b, 4, stream) == 4 ? 0 : -1;
}

int16_t r_short(STREAM *stream) {
  unsigned char b[2];
  if (!ReadExact(stream, b, 2)) return -1;
  return static_cast<int16_t>(static_cast<uint16_t>((b[0] << 8) | b[1]));
}

int32_t r_long(STREAM *stream) {
  unsigned char b[4];
  if (!ReadExact(stream, b, 4)) return -1;
  uint32_t v = (static_cast<uint32_t>(b[0]) << 24) | (static_cast<uint32_t>(b[1]) << 16) |
               (static_cast<uint32_t>(b[2]) << 8) | b[3];
  return static_cast<int32_t>(v);
}

int w_string(STREAM *stream, const char *text) {
  if (text == nullptr) text = "";
  size_t n = 0;
  while (text[n] != '\0') ++n;
  return swrite_blok(text, n + 1, stream) == static_cast<long>(n + 1) ? 0 : -1;
}

int r_string(STREAM *stream, char *buffer, size_t size) {
  if (buffer == nullptr || size == 0) {
    errno = EINVAL;
    return -1;
  }
  size_t n = 0;
  for (;;) {
    unsigned char c;
    if (!ReadExact(stream, &c, 1)) {
      buffer[n < size ? n : size - 1] = '\0';
      return -1;
    }
    if (c == '\0') break;
    if (n + 1 >= size) {
      // Too long: stop at the caller's limit rather than hunt for a NUL a
      // hostile peer may never send. The stream is out of step from here,
      // so it is marked in error and the field readers refuse it.
      buffer[size - 1] = '\0';
      log_mesg(__FILE__, __LINE__, "r_string", LOG_ERROR,
               "string longer than its buffer of %zu bytes", size);
      if (stream != nullptr) {
        stream->error = 1;
        stream->err_no = EOVERFLOW;
      }
      errno = EOVERFLOW;
      return -1;
    }
    buffer[n++] = static_cast<char>(c);
  }
  buffer[n] = '\0';
  return static_cast<int>(n);
}

}  // extern "C"
