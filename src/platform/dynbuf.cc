// Growable byte buffers.
#include "platform/dynbuf.h"

#include <errno.h>

#include <cstdlib>
#include <cstring>

#include "ipc/stream.h"
#include "platform/mal.h"

struct dynbuf {
  char *data;       // capacity + 1 bytes (room for the NUL)
  size_t len;
  size_t capacity;
};

namespace {

bool Reserve(DYNBUF *b, size_t need) {
  if (need <= b->capacity) return true;
  size_t cap = b->capacity;
  while (cap < need) {
    if (cap > (static_cast<size_t>(-1) >> 2)) {
      errno = ENOMEM;
      return false;
    }
    cap *= 2;
  }
  char *fresh = static_cast<char *>(mal_sys_realloc(b->data, cap + 1));
  if (fresh == nullptr) {
    errno = ENOMEM;
    return false;
  }
  b->data = fresh;
  b->capacity = cap;
  return true;
}

}  // namespace

extern "C" {

DYNBUF *dynbuf_create(size_t initial_size) {
  DYNBUF *b = static_cast<DYNBUF *>(mal_sys_calloc(1, sizeof(DYNBUF)));
  if (b == nullptr) return nullptr;
  b->capacity = initial_size < 16 ? 16 : initial_size;
  b->data = static_cast<char *>(mal_sys_malloc(b->capacity + 1));
  if (b->data == nullptr) {
    std::free(b);
    return nullptr;
  }
  b->data[0] = '\0';
  return b;
}

void dynbuf_reset(DYNBUF *buffer) {
  if (buffer == nullptr) return;
  buffer->len = 0;
  buffer->data[0] = '\0';
}

char *dynbuf_get_buf(DYNBUF *buffer) { return buffer != nullptr ? buffer->data : nullptr; }

size_t dynbuf_len(const DYNBUF *buffer) { return buffer != nullptr ? buffer->len : 0; }

int dynbuf_append(DYNBUF *buffer, const void *bytes, size_t count) {
  if (buffer == nullptr || (bytes == nullptr && count > 0)) {
    errno = EINVAL;
    return -1;
  }
  if (count > static_cast<size_t>(-1) - buffer->len - 1) {
    errno = ENOMEM;
    return -1;
  }
  if (!Reserve(buffer, buffer->len + count)) return -1;
  if (count > 0) std::memcpy(buffer->data + buffer->len, bytes, count);
  buffer->len += count;
  buffer->data[buffer->len] = '\0';
  return 0;
}

int dynbuf_sgets(struct stream *stream, DYNBUF *buffer) {
  if (stream == nullptr || buffer == nullptr) return -1;
  dynbuf_reset(buffer);
  bool any = false;
  char chunk[256];
  size_t n = 0;
  for (;;) {
    char c;
    long r = sread_blok(&c, 1, stream);
    if (r < 0) return -1;
    if (r == 0) break;
    any = true;
    if (c == '\n') break;
    chunk[n++] = c;
    if (n == sizeof chunk) {
      if (dynbuf_append(buffer, chunk, n) != 0) return -1;
      n = 0;
    }
  }
  if (n > 0 && dynbuf_append(buffer, chunk, n) != 0) return -1;
  if (!any) return 1;
  if (buffer->len > 0 && buffer->data[buffer->len - 1] == '\r') buffer->data[--buffer->len] = '\0';
  return 0;
}

void dynbuf_destroy(DYNBUF *buffer) {
  if (buffer == nullptr) return;
  std::free(buffer->data);
  std::free(buffer);
}

}  // extern "C"
