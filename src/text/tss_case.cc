// Case of TSS characters: an ISO 8859-1 table for 1-byte characters, ICU's
// case properties and simple case mappings for 4-byte characters in the UTF-T
// mode. In the classic mode a 4-byte character belongs to a character set
// that this layer has no tables for, so it is neither letter case.
#include <array>
#include <cstring>

#include <unicode/uchar.h>

#include "text/tss.h"

namespace {

// 1 lower-case letter, 2 upper-case letter, 0 otherwise.
constexpr unsigned char kLower = 1, kUpper = 2;

constexpr auto kIsoCase = [] {
  std::array<unsigned char, 256> t{};
  for (int c = 'a'; c <= 'z'; ++c) t[c] = kLower;
  for (int c = 'A'; c <= 'Z'; ++c) t[c] = kUpper;
  for (int c = 0xC0; c <= 0xDE; ++c) t[c] = c == 0xD7 ? 0 : kUpper;
  for (int c = 0xDF; c <= 0xFF; ++c) t[c] = c == 0xF7 ? 0 : kLower;
  t[0xAA] = t[0xB5] = t[0xBA] = kLower;  // ordinal indicators and micro sign
  return t;
}();

// The code point of the 4-byte character at ch in the UTF-T mode, else -1.
int32_t WideCodePoint(const char *ch) {
  if (TssGetMode() != TSS_MODE_UTFT) return -1;
  const TssChar c = TssDecodeChar(reinterpret_cast<const unsigned char *>(ch), 4);
  return c.len == 4 ? TssCharToCodePoint(c) : -1;
}

int CaseOf(const char *ch) {
  if (ch == nullptr) return 0;
  const unsigned char b = static_cast<unsigned char>(ch[0]);
  if (b != TSS_ESCAPE) return kIsoCase[b];
  const int32_t cp = WideCodePoint(ch);
  if (cp < 0) return 0;
  if (u_isULowercase(cp)) return kLower;
  if (u_isUUppercase(cp)) return kUpper;
  return 0;
}

}  // namespace

int TssIsLower(const char *ch) { return CaseOf(ch) == kLower; }

int TssIsUpper(const char *ch) { return CaseOf(ch) == kUpper; }

int TssIsoToLower(int byte) {
  const int b = byte & 0xFF;
  return kIsoCase[b] == kUpper ? b + 0x20 : b;
}

int TssIsoToUpper(int byte) {
  const int b = byte & 0xFF;
  // Lower-case letters whose upper case lies outside ISO 8859-1 stay.
  if (kIsoCase[b] != kLower || b == 0xAA || b == 0xB5 || b == 0xBA || b == 0xDF || b == 0xFF) {
    return b;
  }
  return b - 0x20;
}

char *TssStringConvertCase(char *text, long n, int flag) {
  if (text == nullptr) return text;
  const size_t avail = n < 0 ? std::strlen(text) : strnlen(text, static_cast<size_t>(n));
  unsigned char *t = reinterpret_cast<unsigned char *>(text);
  for (size_t i = 0; i < avail;) {
    if (t[i] != TSS_ESCAPE) {
      t[i] = static_cast<unsigned char>(flag ? TssIsoToUpper(t[i]) : TssIsoToLower(t[i]));
      ++i;
      continue;
    }
    const TssChar c = TssDecodeChar(t + i, avail - i);
    if (c.len == 4 && TssGetMode() == TSS_MODE_UTFT) {
      const int32_t cp = TssCharToCodePoint(c);
      if (cp >= 0) {
        const UChar32 mapped = flag ? u_toupper(cp) : u_tolower(cp);
        if (mapped != cp && mapped > 0) TssEncodeUtfT(static_cast<uint32_t>(mapped), t + i);
      }
    }
    i += c.len;
  }
  return text;
}
