// The byte-order (classic mode) case of the blank-padded comparison.
//
// It decides texts of known length that hold no NUL byte before the point
// where they differ, and leaves every other case to the general code. Its
// fixed cost is kept to that of a memcmp of the same bytes: the texts are
// compared 16 bytes at a time (SSE2 is in the x86-64 baseline), texts of 4
// to 15 bytes and the end of longer ones as two overlapping blocks, so that
// only texts under 4 bytes run a byte loop; one mask marks the bytes that
// differ or are NUL in the first text, and the first marked byte decides.
// Every read stays inside the given lengths of both texts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tss_padded_fast {

// What TssClassicPaddedOrder returns when the general code must decide.
inline constexpr int kUndecided = 2;

// The order of the bytes at the first place where two texts stop being
// equal; a NUL there ends a text, which the general code handles.
inline int OrderAt(unsigned char x, unsigned char y) {
  if (x == 0 || y == 0) return kUndecided;
  return x < y ? -1 : 1;
}

#if defined(__SSE2__)

// Bit k set where byte k of x and y differ or byte k of x is 0 (a 0 in y
// alone is a difference).
inline unsigned StopMask(__m128i x, __m128i y) {
  const __m128i same = _mm_cmpeq_epi8(x, y);  // 0xFF where equal
  return static_cast<unsigned>(
      _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_min_epu8(same, x), _mm_setzero_si128())));
}

inline __m128i Load16(const unsigned char *p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
}

// Bytes [0, 8) and [n - 8, n) of p, 8 <= n <= 16.
inline __m128i Load8And8(const unsigned char *p, size_t n) {
  return _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(p)),
                            _mm_loadl_epi64(reinterpret_cast<const __m128i *>(p + n - 8)));
}

// Bytes [0, 4) and [n - 4, n) of p in the low 8 bytes, 4 <= n <= 8.
inline __m128i Load4And4(const unsigned char *p, size_t n) {
  int32_t lo, hi;
  std::memcpy(&lo, p, 4);
  std::memcpy(&hi, p + n - 4, 4);
  return _mm_unpacklo_epi32(_mm_cvtsi32_si128(lo), _mm_cvtsi32_si128(hi));
}

// The order of the first n bytes, n >= 16, or 0 when they are equal.
inline int OrderLong(const unsigned char *a, const unsigned char *b, size_t n) {
  size_t i = 0;
  for (; i + 16 < n; i += 16) {
    if (unsigned m = StopMask(Load16(a + i), Load16(b + i)); m != 0) {
      const size_t k = i + static_cast<unsigned>(__builtin_ctz(m));
      return OrderAt(a[k], b[k]);
    }
  }
  // The last block ends at n and may overlap bytes found equal.
  if (unsigned m = StopMask(Load16(a + n - 16), Load16(b + n - 16)); m != 0) {
    const size_t k = n - 16 + static_cast<unsigned>(__builtin_ctz(m));
    return OrderAt(a[k], b[k]);
  }
  return 0;
}

// The order of the first n bytes, n < 16, or 0 when they are equal.
inline int OrderShort(const unsigned char *a, const unsigned char *b, size_t n) {
  if (n >= 8) {
    if (unsigned m = StopMask(Load8And8(a, n), Load8And8(b, n)); m != 0) {
      const unsigned k = static_cast<unsigned>(__builtin_ctz(m));
      const size_t at = k < 8 ? k : n - 16 + k;
      return OrderAt(a[at], b[at]);
    }
    return 0;
  }
  if (n >= 4) {
    if (unsigned m = StopMask(Load4And4(a, n), Load4And4(b, n)) & 0xFFu; m != 0) {
      const unsigned k = static_cast<unsigned>(__builtin_ctz(m));
      const size_t at = k < 4 ? k : n - 8 + k;
      return OrderAt(a[at], b[at]);
    }
    return 0;
  }
  for (size_t i = 0; i < n; ++i) {
    if (a[i] != b[i] || a[i] == 0) return OrderAt(a[i], b[i]);
  }
  return 0;
}

#else  // without SSE2: byte by byte

inline int OrderLong(const unsigned char *a, const unsigned char *b, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    if (a[i] != b[i] || a[i] == 0) return OrderAt(a[i], b[i]);
  }
  return 0;
}
inline int OrderShort(const unsigned char *a, const unsigned char *b, size_t n) {
  return OrderLong(a, b, n);
}

#endif

// The sign of bytes [from, end) of the longer text t against the blanks
// that pad the shorter, up to a NUL, which ends t: 0 when they are all
// blanks, else `sign` when the first other byte is above a blank and -sign
// when it is below. Reads nothing outside [0, end) of t.
int ClassicRestAgainstBlanks(const unsigned char *t, size_t from, size_t end, int sign);

}  // namespace tss_padded_fast

// The classic-mode padded comparison of a and b when their first min(la, lb)
// bytes hold no NUL up to where they differ: -1, 0 or 1, as
// TssStringNNCmpWithPadding gives it in the classic mode. Otherwise (a
// length below 0, a null text, a NUL met before the texts differ)
// tss_padded_fast::kUndecided.
// REQUIRES: la bytes of a and lb bytes of b are readable when the length is
// not negative.
inline int TssClassicPaddedOrder(const char *a, const char *b, long la, long lb) {
  using namespace tss_padded_fast;
  if ((la | lb) < 0 || a == nullptr || b == nullptr) return kUndecided;
  const auto *pa = reinterpret_cast<const unsigned char *>(a);
  const auto *pb = reinterpret_cast<const unsigned char *>(b);
  const size_t n = static_cast<size_t>(la < lb ? la : lb);
  const int order = n >= 16 ? OrderLong(pa, pb, n) : OrderShort(pa, pb, n);
  if (order != 0 || la == lb) return order;
  return la > lb ? ClassicRestAgainstBlanks(pa, n, static_cast<size_t>(la), 1)
                 : ClassicRestAgainstBlanks(pb, n, static_cast<size_t>(lb), -1);
}
