/* TSS text: the calls of the text layer that a host program may make. */
#ifndef MOLVANE_TSS_H
#define MOLVANE_TSS_H

#include <molvane/export.h>

MOLVANE_EXTERN_C_BEGIN

/* Selects the TSS locale by name ("ISO-8859-1", matched without regard to
 * case; null or empty selects it as well). arg is the host's locale argument
 * (the fourth argument of zdb_init_api); it is kept with the locale and has
 * no other effect here. Returns 0, or -1 with a log message for a locale
 * that is not known, in which case the current locale stays selected. */
MOLVANE_API int TSSsetlocale(const char *locale, int arg);

MOLVANE_EXTERN_C_END

#endif
