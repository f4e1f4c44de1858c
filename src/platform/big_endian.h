// The big-endian integers of row images and request records.
#pragma once

#include <cstdint>

inline std::uint32_t LoadBigU32(const unsigned char *p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}
inline std::int32_t LoadBig32(const unsigned char *p) { return static_cast<std::int32_t>(LoadBigU32(p)); }
inline std::int16_t LoadBig16(const unsigned char *p) { return static_cast<std::int16_t>((p[0] << 8) | p[1]); }
inline void StoreBig32(unsigned char *p, std::int32_t value) {
  auto v = static_cast<std::uint32_t>(value);
  p[0] = static_cast<unsigned char>(v >> 24);
  p[1] = static_cast<unsigned char>(v >> 16);
  p[2] = static_cast<unsigned char>(v >> 8);
  p[3] = static_cast<unsigned char>(v);
}
