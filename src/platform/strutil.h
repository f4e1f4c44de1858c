// Small text helpers of the C layers.
#pragma once

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

// Copies at most n characters of `source` into `target` (which holds n
// bytes), stopping after a 0 byte. With `terminate` 1 the target always
// ends with a 0 byte: at most n - 1 characters are copied then (nothing is
// written when n is 0). Returns target.
char *ncopystr(char *target, const char *source, size_t n, int terminate);
// Removes trailing blanks (' ') in place; returns the text.
char *strip(char *text);
// Removes trailing white space (blank, tab, newline, CR, FF, VT) in place;
// returns the text.
char *strip_whitespace(char *text);
// The 1-based position of `part` in `text`; 0 when absent or when either
// text is empty or null.
int pos(const char *text, const char *part);

#ifdef __cplusplus
}
#endif
