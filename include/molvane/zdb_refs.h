/* Referential integrity of the record-level API: the switch that turns the
 * client's reference work off for the process, and the question whether a
 * row of a cursor is still referenced. */
#ifndef MOLVANE_ZDB_REFS_H
#define MOLVANE_ZDB_REFS_H

#include <molvane/export.h>

MOLVANE_EXTERN_C_BEGIN

struct ZDB_CURSOR;

/* Turns references off for the whole process: no reference checks, counter
 * updates or cascades afterwards, and drivers attached later are told so. */
MOLVANE_API void zdb_disable_references(void);

/* Whether the cursor's current row (its binds) is still referenced, for a
 * delete (argument 1) or an update (2) of it in a company (0xFFFF the
 * cursor's default): 1 referenced, with *text at the table's restriction
 * text; 0 not; -1 failure (zdb_errno). *text is "" unless 1. */
MOLVANE_API int zdb_get_refcount(struct ZDB_CURSOR *cursor, int compnr, const char **text,
                                 int argument);

MOLVANE_EXTERN_C_END

#endif
