// What the text layer takes from the platform layer: variable lookup and the
// message log. Kept in one place so that the text layer names each once.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

// The value of a software-environment variable, or null.
inline const char *TssGetVar(const char *name) { return std::getenv(name); }

// Writes one message under a keyword; flags 0 error, 0x80 warning.
__attribute__((format(printf, 5, 6))) inline void TssLog(const char *file, int line,
                                                          const char *keyword, int flags,
                                                          const char *format, ...) {
  std::fprintf(stderr, "%c %s (%s:%d): ", flags & 0x80 ? 'W' : 'E', keyword, file, line);
  va_list ap;
  va_start(ap, format);
  std::vfprintf(stderr, format, ap);
  va_end(ap);
}
inline constexpr int TSS_LOG_ERROR = 0;
inline constexpr int TSS_LOG_WARNING = 0x80;
