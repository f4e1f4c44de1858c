// The byte-order (classic mode) case of the blank-padded comparison, word by
// word: it decides texts of known length that hold no NUL byte before the
// point where they differ, and leaves every other case to the general code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tss_padded_fast {

constexpr uint64_t kOnes = 0x0101010101010101ULL;
constexpr uint64_t kHighs = 0x8080808080808080ULL;

inline bool HasZeroByte(uint64_t x) { return ((x - kOnes) & ~x & kHighs) != 0; }

inline uint64_t Load(const unsigned char *p) {
  uint64_t x;
  std::memcpy(&x, p, 8);
  return x;
}

// The order of two words that differ, as their bytes in memory order.
inline int WordOrder(uint64_t x, uint64_t y) {
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  x = __builtin_bswap64(x);
  y = __builtin_bswap64(y);
#endif
  return x < y ? -1 : 1;
}

}  // namespace tss_padded_fast

// True when it decided: *result is then what TssStringNNCmpWithPadding gives
// in the classic mode. False for a length below 0 or a NUL byte met before
// the texts differ. Inline: it runs before every padded comparison.
inline bool TssClassicPaddedCompare(const char *a, const char *b, long la, long lb, int *result) {
  using namespace tss_padded_fast;
  if (la < 0 || lb < 0 || a == nullptr || b == nullptr) return false;
  const auto *pa = reinterpret_cast<const unsigned char *>(a);
  const auto *pb = reinterpret_cast<const unsigned char *>(b);
  size_t n = static_cast<size_t>(la < lb ? la : lb);
  size_t i = 0;
#if defined(__SSE2__)
  // 16 bytes at a time: the first byte that differs or is a NUL decides
  // (a NUL leaves the case to the general code). The last block may overlap
  // bytes already found equal.
  if (n >= 16) {
    const __m128i zero = _mm_setzero_si128();
    // The first byte of the block at `at` that differs or is a NUL: -1, or
    // its decision (0 or 1 as a's byte is greater), or 2 for a NUL.
    auto block = [&](size_t at) -> int {
      __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i *>(pa + at));
      __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i *>(pb + at));
      unsigned differ = ~static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(x, y))) & 0xFFFFu;
      unsigned nul = static_cast<unsigned>(
          _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(x, zero), _mm_cmpeq_epi8(y, zero))));
      if ((differ | nul) == 0) return -1;
      unsigned first = static_cast<unsigned>(__builtin_ctz(differ | nul));
      if (nul & (1u << first)) return 2;
      return pa[at + first] > pb[at + first] ? 1 : 0;
    };
    int d = -1;
    for (; i + 16 <= n && d < 0; i += 16) d = block(i);
    // The last block may overlap bytes already found equal.
    if (d < 0 && i < n) d = block(n - 16);
    if (d == 2) return false;
    if (d >= 0) {
      *result = d ? 1 : -1;
      return true;
    }
    i = n;
  }
#endif
  for (; i + 8 <= n; i += 8) {
    uint64_t x = Load(pa + i), y = Load(pb + i);
    if (HasZeroByte(x) || HasZeroByte(y)) return false;
    if (x != y) {
      *result = WordOrder(x, y);
      return true;
    }
  }
  for (; i < n; ++i) {
    if (pa[i] == 0 || pb[i] == 0) return false;
    if (pa[i] != pb[i]) {
      *result = pa[i] < pb[i] ? -1 : 1;
      return true;
    }
  }
  // Equal up to the shorter length: the rest of the longer text (up to a
  // NUL, which ends it) against blanks.
  const unsigned char *rest = la > lb ? pa : pb;
  size_t m = static_cast<size_t>(la > lb ? la : lb);
  int sign = la > lb ? 1 : -1;
  for (; i < m && rest[i] != 0; ++i) {
    if (rest[i] != ' ') {
      *result = rest[i] < ' ' ? -sign : sign;
      return true;
    }
  }
  *result = 0;
  return true;
}
