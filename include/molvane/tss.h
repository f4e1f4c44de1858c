/* TSS text: the calls of the text layer that a host program may make. */
#ifndef MOLVANE_TSS_H
#define MOLVANE_TSS_H

#include <molvane/export.h>

MOLVANE_EXTERN_C_BEGIN

/* Selects the TSS locale by name ("ISO-8859-1"; the name is matched without
 * regard to case). native names the native code page of the host and may be
 * null or empty for the default; it is kept for the conversions to the native
 * side. Returns 0, or -1 with a log message for a locale that is not known,
 * in which case the current locale stays selected. */
MOLVANE_API int TSSsetlocale(const char *locale, const char *native);

MOLVANE_EXTERN_C_END

#endif
