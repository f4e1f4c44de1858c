// Growable byte buffers, e.g. for lines of any length.
#pragma once

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

struct stream;
typedef struct dynbuf DYNBUF;

// A buffer with room for `initial_size` bytes (at least 16); null when
// memory runs out.
DYNBUF *dynbuf_create(size_t initial_size);
// Empties the buffer (keeps its memory).
void dynbuf_reset(DYNBUF *buffer);
// The buffer's data, always NUL-terminated after the stored length.
char *dynbuf_get_buf(DYNBUF *buffer);
// The number of bytes stored.
size_t dynbuf_len(const DYNBUF *buffer);
// Appends bytes; 0, or -1 when memory runs out (the buffer is unchanged).
int dynbuf_append(DYNBUF *buffer, const void *bytes, size_t count);
// Reads one whole line of any length into the buffer (replacing its
// content), without the newline (nor a CR before it). 0 on success,
// non-zero at the end of the data, on a read error or when memory runs out.
int dynbuf_sgets(struct stream *stream, DYNBUF *buffer);
// Frees the buffer; null is ignored.
void dynbuf_destroy(DYNBUF *buffer);

#ifdef __cplusplus
}
#endif
