/* Version of the molvane library. */
#ifndef MOLVANE_VERSION_H
#define MOLVANE_VERSION_H

#include <molvane/export.h>

MOLVANE_EXTERN_C_BEGIN

/* The library's version text, e.g. "molvane 0.1.0"; static, never freed. */
MOLVANE_API const char *get_molvane_version(void);

MOLVANE_EXTERN_C_END

#endif
