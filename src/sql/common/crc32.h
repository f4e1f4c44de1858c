// CRC-32 of IEEE 802.3, as used for string hashing in the SQL layers.
#pragma once

// Continues the CRC-32 `crc` over `n` bytes and returns the new value; the
// result of one call may be passed as `crc` to the next to hash data in
// pieces. A start value of 0 gives the ordinary CRC-32 ("abc" -> 0x352441C2).
// n <= 0 returns crc unchanged. Only the low 32 bits of crc are used.
unsigned long calc_crc(unsigned long crc, unsigned char const *bytes, int n);
