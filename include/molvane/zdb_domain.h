/* Domain checks: a row image tested against the dictionary domains of its
 * table's columns (must-fill, range, legal and illegal characters, case
 * conversion, digits of a real). */
#ifndef MOLVANE_ZDB_DOMAIN_H
#define MOLVANE_ZDB_DOMAIN_H

#include <molvane/export.h>

MOLVANE_EXTERN_C_BEGIN

struct DD_TABLE;

/* Checks every column of the row in dictionary order. Returns the full name
 * ("tttttttt.cccccccc") of the first column whose value fails its domain,
 * or null when every column passes. Logs nothing; the text describing the
 * failure ("exdom010.qty not in range ...") is the message text
 * (get_zdb_msg) until the next call. */
MOLVANE_API const char *zdb_domain_check(const struct DD_TABLE *table, const unsigned char *row);

MOLVANE_EXTERN_C_END

#endif
