// Small text helpers of the C layers.
#include "platform/strutil.h"

#include <cstring>

extern "C" {

char *ncopystr(char *target, const char *source, size_t n, int terminate) {
  if (target == nullptr || n == 0) return target;
  size_t limit = terminate ? n - 1 : n;
  size_t i = 0;
  if (source != nullptr) {
    for (; i < limit && source[i] != '\0'; ++i) target[i] = source[i];
  }
  if (i < n) target[i] = '\0';  // the 0 byte ends the copy when it fits
  return target;
}

char *strip(char *text) {
  if (text == nullptr) return text;
  size_t n = std::strlen(text);
  while (n > 0 && text[n - 1] == ' ') --n;
  text[n] = '\0';
  return text;
}

char *strip_whitespace(char *text) {
  if (text == nullptr) return text;
  size_t n = std::strlen(text);
  while (n > 0 && std::strchr(" \t\n\r\f\v", text[n - 1]) != nullptr) --n;
  text[n] = '\0';
  return text;
}

int pos(const char *text, const char *part) {
  if (text == nullptr || part == nullptr || *text == '\0' || *part == '\0') return 0;
  const char *found = std::strstr(text, part);
  return found != nullptr ? static_cast<int>(found - text) + 1 : 0;
}

}  // extern "C"
