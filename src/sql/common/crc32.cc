// Table-driven CRC-32 with the reflected polynomial 0xEDB88320: one table
// lookup per byte. The table is computed at compile time.
#include "sql/common/crc32.h"

#include <array>
#include <cstdint>

namespace {

constexpr std::array<std::uint32_t, 256> MakeCrcTable() {
  std::array<std::uint32_t, 256> table{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[i] = c;
  }
  return table;
}

constexpr std::array<std::uint32_t, 256> kCrcTable = MakeCrcTable();

}  // namespace

unsigned long calc_crc(unsigned long crc, unsigned char const *bytes, int n) {
  if (n <= 0 || bytes == nullptr) return crc;
  std::uint32_t reg = ~static_cast<std::uint32_t>(crc);
  for (int i = 0; i < n; ++i) reg = kCrcTable[(reg ^ bytes[i]) & 0xFF] ^ (reg >> 8);
  return ~reg;
}
