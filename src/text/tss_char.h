// The TSS character layout: reading and writing one character, and the
// conversion between TSS text in the UTF-T form and UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

inline constexpr unsigned char TSS_ESCAPE = 0x9B;  // starts a 4-byte character
inline constexpr uint32_t TSS_UTFT_OFFSET = 0xF0000;  // added to a code point

// Results of the conversions besides a byte count.
inline constexpr long TSS_CONV_TOO_SMALL = -2;     // target too small
inline constexpr long TSS_CONV_UNCONVERTIBLE = -3; // character cannot be converted

// One TSS character as read from a text.
struct TssChar {
  uint32_t wide;  // the byte, or the four bytes big-endian
  uint32_t len;   // 1 or 4
};

// Reads the character at p, of which at most avail bytes may be read. A 0x9B
// not followed by three non-zero bytes within avail reads as a 1-byte
// character, so that a cut-short character is still walked byte by byte.
// REQUIRES: avail >= 1.
inline TssChar TssDecodeChar(const unsigned char *p, size_t avail) {
  if (p[0] != TSS_ESCAPE || avail < 4 || p[1] == 0 || p[2] == 0 || p[3] == 0) {
    return {p[0], 1};
  }
  return {(uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3], 4};
}

// The Unicode code point of a character read in the UTF-T form, or -1 when
// it has none (a 4-byte character that is not UTF-T, a surrogate, or the
// 4-byte form of U+0000).
int32_t TssCharToCodePoint(TssChar ch);

// Reads one UTF-8 sequence of at most avail bytes (avail >= 1): its code
// point, or -1 for a malformed, overlong or cut-short sequence, a surrogate
// or a value above U+10FFFF. len receives the bytes it takes.
int32_t Utf8DecodeChar(const unsigned char *p, size_t avail, size_t &len);

// Writes the 4-byte UTF-T form of a code point (0x1 to 0x10FFFF).
void TssEncodeUtfT(uint32_t code_point, unsigned char out[4]);

// Writes the shortest TSS form of a code point: one byte for 0x01 to 0xFF
// other than 0x9B, else the 4-byte UTF-T form. Returns the byte count.
size_t TssEncodeCodePoint(uint32_t code_point, unsigned char out[4]);

// Converts TSS text (UTF-T form; len bytes, or up to the 0 byte when len is
// negative) to UTF-8 in out, which receives a terminating 0 byte. Returns the
// number of bytes written without the 0 byte, TSS_CONV_TOO_SMALL when out
// cannot hold them, or TSS_CONV_UNCONVERTIBLE for a 4-byte character that
// carries no code point.
long TssToUtf8(const char *tss, long len, char *out, size_t out_size);

// Converts UTF-8 text (len bytes, or up to the 0 byte when len is negative)
// to TSS text in its shortest UTF-T form, with a terminating 0 byte. Returns
// as TssToUtf8; malformed UTF-8 and U+0000 inside len are unconvertible.
long Utf8ToTss(const char *utf8, long len, char *out, size_t out_size);

// The same conversions into a string; false when the input cannot be converted.
bool TssToUtf8(std::string_view tss, std::string &out);
bool Utf8ToTss(std::string_view utf8, std::string &out);
