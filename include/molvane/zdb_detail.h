/* The details of the last failed buffered update of a transaction. */
#ifndef MOLVANE_ZDB_DETAIL_H
#define MOLVANE_ZDB_DETAIL_H

#include <molvane/export.h>

MOLVANE_EXTERN_C_BEGIN

/* The error number of the transaction's last failed buffered update, with
 * its table name (into 9 bytes: 8 and a NUL), company number and extra text
 * (valid until the next update reply; null when none came). When there is
 * none: 0, an empty name, company number 0xFFFF and no text. -1 with
 * zdb_errno set for a transaction id not in use. Any output may be null. */
MOLVANE_API int zdb_get_detail_error(char *table, int *compnr, const char **extra, int trans_id);

MOLVANE_EXTERN_C_END

#endif
