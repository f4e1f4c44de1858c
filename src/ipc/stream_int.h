// Integers and strings on a stream: 16- and 32-bit integers big-endian,
// strings NUL-terminated. These are the field readers and writers of the
// wire and file formats; a record is never copied as memory.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "ipc/stream.h"

#ifdef __cplusplus
extern "C" {
#endif

// Write a 16-bit or 32-bit integer big-endian; 0, or -1 on error.
int w_short(STREAM *stream, int value);
int w_long(STREAM *stream, int32_t value);
// Read a 16-bit or 32-bit big-endian integer. At the end of the data or on
// error the result is -1 and the stream's error flag is set (EIO at a
// short read): check stream_error after a series of reads.
int16_t r_short(STREAM *stream);
int32_t r_long(STREAM *stream);
// Writes a text with its NUL; 0, or -1.
int w_string(STREAM *stream, const char *text);
// Reads a NUL-terminated text into buffer (size bytes with the NUL). The
// text's length, or -1: at the end of the data (EIO), or when the text does
// not fit (logged, errno EOVERFLOW). At most size bytes are read: a text
// that does not fit leaves the stream inside it, so the stream's error flag
// is set and its reader must give it up. The buffer is always terminated.
int r_string(STREAM *stream, char *buffer, size_t size);

#ifdef __cplusplus
}
#endif
