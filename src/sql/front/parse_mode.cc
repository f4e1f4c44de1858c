#include "sql/front/parse_mode.h"

namespace {
int parse_mode = 0;  // one parse at a time, on the caller's thread
}  // namespace

void SQLParseSetMode(int mode) { parse_mode = mode; }

int SQLParseGetMode() { return parse_mode; }

int inAnsiMode() { return (parse_mode & parsemode::kAnsi) != 0; }
