// The software environment: the environment root ($ZUV), the temporary
// directory, the release text, variables, and files under the root.
// get_zuv, set_zuv and qelt_putenv are exported (<molvane/platform.h>).
#pragma once

#include <molvane/platform.h>

#ifdef __cplusplus
extern "C" {
#endif

struct stream;

// The temporary directory: ZUV_TMP, else "$ZUV/tmp" when that directory
// exists, else TMPDIR, else "/tmp"; no trailing "/". Never null; the text
// stays valid until the next call.
const char *get_zuv_tmp(void);

// The release text that suffixes release-specific file names
// ("lib/tabledef<release>"): ZUV_RELEASE, default "1".
const char *get_release(void);

// The value of a software-environment variable: the process environment
// first, then a "name: value" line of the settings files (user file,
// "lib/defaults/<program>", "lib/defaults/all"); ZUV gives get_zuv().
// Null when none defines it. The text stays valid until the same name is
// looked up again after a change.
const char *getvar(const char *name);

// Sets a process environment variable; with `overwrite` 0 an existing
// variable is kept. 0 on success, -1 for a bad name.
int qelt_setenv(const char *name, const char *value, int overwrite);

// Opens "${ZUV}/" followed by the formatted name for reading; null (errno
// set) when it cannot be opened. A missing file is not logged.
struct stream *open_zuv_file(const char *format, ...) __attribute__((format(printf, 1, 2)));

// The platform debug bit word: the variable or setting DEBUG_LEVEL
// (decimal, or octal with a leading 0, or hexadecimal with 0x), 0 when
// unset or not a number. Bits in use: 0x20 traces the table definitions,
// 0x1000 prints enumerated domains, 0x8000 traces dump loading, 0x20000000
// traces the role lists.
long al_debug_level(void);

// The user's package combination text (from the user record; "" when the
// user has none).
const char *alGetPacComb(void);

#ifdef __cplusplus
}
#endif
