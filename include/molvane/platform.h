/* Platform calls that a host program may make before or around the database
 * API: the environment root, the process environment and the log hook. */
#ifndef MOLVANE_PLATFORM_H
#define MOLVANE_PLATFORM_H

#include <molvane/export.h>

MOLVANE_EXTERN_C_BEGIN

/* The environment root directory with "/" separators and no trailing "/".
 * Taken from set_zuv, else from the variable ZUV; "" when neither is set.
 * The text stays valid until the next set_zuv. */
MOLVANE_API const char *get_zuv(void);

/* Sets the environment root (and the variable ZUV, so that child processes
 * see it). Trailing "/" are removed. 0 on success, -1 for a null or empty
 * root. */
MOLVANE_API int set_zuv(const char *root);

/* Sets a process environment variable from "NAME=value" (an empty value
 * removes the variable). The text is copied. 0 on success, -1 when the
 * assignment has no "=" or an empty name. */
MOLVANE_API int qelt_putenv(const char *assignment);

/* A log hook receives every message the log writes: the level letter
 * ('E' error, 'W' warning, 'I' information), the keyword, the message text
 * (without a trailing newline), and the caller's source file and line.
 * It runs on the caller's thread, after the line went to the log file,
 * and must not call log functions itself (such calls are dropped). */
typedef void (*log_hook_fn)(char level, const char *keyword, const char *text,
                            const char *file, int line);

/* Installs the hook (null removes it); returns the previous hook. */
MOLVANE_API log_hook_fn log_set_log_hook(log_hook_fn hook);

MOLVANE_EXTERN_C_END

#endif
