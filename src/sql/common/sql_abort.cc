#include "sql/common/sql_abort.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "platform/log.h"

void SQLAbort(char const *sourceFile, int line, char const *format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);

  // One message of two lines, so that a log reader or hook sees the cause with the stop.
  log_start_mesg(sourceFile, line, "SQL", LOG_ERROR);
  log_printf("SQL processor stopped. Internal error:\n");
  log_printf("%s\n", text);
  log_stop_mesg();

  std::fflush(stdout);
  std::fprintf(stderr, "SQL processor stopped in file %s, line %d.\nInternal error:\n%s\n",
               sourceFile, line, text);
  std::fflush(stderr);
  std::abort();
}
