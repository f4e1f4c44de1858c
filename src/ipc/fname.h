// Logical file names.
//
// A logical name is one or more alternatives separated by ";"; opening
// tries them in turn and the first that opens wins. An alternative may
// start with prefixes in braces:
//   "{nofdlog}"      do not log when the file cannot be opened;
//   "{package=pp}"   the package the file belongs to: "${PACKAGE}" in the
//                    name or in a logical directory's value becomes "pp";
// then the path, in which "${NAME}" is replaced by getvar(NAME) (env.h),
// and which may start with a logical directory "NAME:rest": NAME (letters,
// digits and "_", not starting with a digit) is looked up with getvar and
// its value (with "${...}" expanded) becomes the directory of rest. F_ZRDD
// (the dictionary directory) defaults to "${ZUV}/dict". A relative path
// is taken relative to the current directory.
// A remote alternative "host!path" cannot be opened on this system: it
// fails (EHOSTUNREACH) and the next alternative is tried.
// The format is described in docs/logical-file-names.md.
#pragma once

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

// Resolves a logical name without opening it: non-zero when one of its
// alternatives names an existing file (that file's physical name becomes
// the last exploded name), 0 otherwise.
int get_explode_fname(const char *logical_name);

// Copies the physical file name that the last open or resolution found
// into buffer (size bytes with the NUL). The buffer, or null when nothing
// was found yet or the name does not fit (errno ERANGE).
char *get_last_exploded_fname(char *buffer, size_t size);

#ifdef __cplusplus
}
#endif
