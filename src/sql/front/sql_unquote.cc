#include <cstring>
#include <memory>

#include "sql/front/sql_scanner.h"

namespace {
constexpr unsigned char kTssEscape = 0x9B;  // first byte of a TSS 4-byte character
}  // namespace

std::unique_ptr<char[]> SQLUnquote(char const *token) {
  size_t length = std::strlen(token);
  auto result = std::make_unique<char[]>(length + 1);
  char *out = result.get();
  if (length >= 2) {
    char const quote = token[0];
    size_t const end = length - 1;  // the closing quote
    for (size_t i = 1; i < end;) {
      if (static_cast<unsigned char>(token[i]) == kTssEscape) {
        // The scanner guarantees three bytes before the closing quote; a
        // malformed text is cut at the quote rather than read past it.
        size_t n = end - i < 4 ? end - i : 4;
        std::memcpy(out, token + i, n);
        out += n;
        i += n;
      } else if (token[i] == quote) {
        if (i + 1 < end) *out++ = token[i + 1];
        i += 2;
      } else {
        *out++ = token[i++];
      }
    }
  }
  *out = '\0';
  return result;
}
