// Field helpers of the request protocol over the stream integers: each
// returns 0, or -1 when the stream fails or ends before the field is whole.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ipc/stream.h"

int wire_put_u8(STREAM *out, std::uint8_t value);
int wire_put_u16(STREAM *out, std::uint16_t value);
int wire_put_u32(STREAM *out, std::uint32_t value);
int wire_put_bytes(STREAM *out, const void *bytes, std::size_t count);
// The text's first `max` characters (all when max is 0) and a NUL.
int wire_put_text(STREAM *out, const char *text, std::size_t max = 0);

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
