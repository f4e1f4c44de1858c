// Program layout of the regular-expression engine, shared by its compiler
// and its matcher. A program is position-independent bytes:
//
//   header: magic 'Y' 'X', version, flags, u32 program length (header included)
//   instructions, addressed by their byte offset from the program start
//
// Multi-byte fields are little-endian and unaligned. The instructions:
//
//   kChar1 b            one 1-byte character b
//   kChar4 b0 b1 b2 b3  one 4-byte TSS character
//   kAny                any one character
//   kClass neg u16:n    one character in (or, with neg 1, not in) n ranges,
//          n x (u32 lo, u32 hi)   of TSS character values
//   kStar <matcher>     zero or more of the matcher that follows (one of the
//                       four above); continues after the matcher
//   kSplit u32:x u32:y  continue at both x and y
//   kJmp u32:x          continue at x
//   kMatch              a match is found
//   kMatchEnd           a match is found if the subject ends here
#ifndef MOLVANE_PLATFORM_YY_REGEX_H
#define MOLVANE_PLATFORM_YY_REGEX_H

#include <cstddef>
#include <cstdint>

namespace yy::rx {

inline constexpr unsigned char kMagic0 = 'Y';
inline constexpr unsigned char kMagic1 = 'X';
inline constexpr unsigned char kVersion = 1;
inline constexpr unsigned char kAnchoredStart = 1;  // header flag
inline constexpr size_t kHeaderSize = 8;
inline constexpr unsigned char kTssLead = 0x9B;     // first byte of a 4-byte character

enum Opcode : unsigned char {
  kChar1 = 1,
  kChar4,
  kAny,
  kClass,
  kStar,
  kSplit,
  kJmp,
  kMatch,
  kMatchEnd,
};

inline uint32_t get_u32(const unsigned char *p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}
inline uint16_t get_u16(const unsigned char *p) {
  return static_cast<uint16_t>(p[0] | p[1] << 8);
}

// Byte size of the matcher instruction at p (kChar1, kChar4, kAny, kClass).
inline size_t matcher_size(const unsigned char *p) {
  switch (p[0]) {
    case kChar1: return 2;
    case kChar4: return 5;
    case kAny: return 1;
    case kClass: return 4 + size_t{get_u16(p + 2)} * 8;
    default: return 1;
  }
}

// The plain Thompson simulation without the DFA cache: what yy_expr_step
// computes, kept callable on its own so that tests can compare the two.
int step_nfa(const unsigned char *subject, size_t len, const unsigned char *program);

}  // namespace yy::rx

#endif  // MOLVANE_PLATFORM_YY_REGEX_H
