#include "sql/common/sql_abort.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

void SQLAbort(char const *sourceFile, int line, char const *format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);

  std::fflush(stdout);
  std::fprintf(stderr, "SQL processor stopped in file %s, line %d.\nInternal error:\n%s\n",
               sourceFile, line, text);
  std::fflush(stderr);
  std::abort();
}
