/* Permissions of the record-level database API: what the user's DB roles
 * allow on a table or on one of its fields. */
#ifndef MOLVANE_ZDB_PERM_H
#define MOLVANE_ZDB_PERM_H

#include <molvane/dd.h>
#include <molvane/export.h>
#include <molvane/zdb_cursor.h>

MOLVANE_EXTERN_C_BEGIN

/* The user's permission for the cursor's table (field null) or for one of
 * its fields, in a company (0xFFFF: the cursor's default), judged on the row
 * image when one is given: 16 delete, 8 insert, 4 update, 2 read, 1 none;
 * 30 for a super user; 32 when a row condition decides and no row was given;
 * 64 when no role names the field. A table in a logical company mapped to
 * another physical company gets the lower of the two companies' values.
 * -1 with zdb_errno when the company's internal cursor cannot be had. */
MOLVANE_API int zdb_permission(ZDB_CURSOR *cursor, int compnr, const DD_COLUMN *field,
                               const unsigned char *row);

/* Writes "Permissions for table: <name>" and, per role, the lines that
 * decide for the table in the cursor's default company to standard error. */
MOLVANE_API void dump_zdb_permission(ZDB_CURSOR *cursor);

MOLVANE_EXTERN_C_END

#endif
