/* Delayed locks: the client's optimistic row locks.
 *
 * A row read with a delayed lock is kept by the library as an image under a
 * 32-bit id, and the id is written into the row's _dlock field (big-endian,
 * at the table's delayed-lock offset). A later delete or update of the row
 * sends the kept image along, so that the driver refuses the change when the
 * stored row no longer equals it. These calls let a host keep rows itself,
 * for example rows it fetched through the SQL API.
 *
 * Images are kept per table and company on one transaction's driver session
 * and are released when the transaction ends; a commit-resistant row is kept
 * under its id across commits until an abort.
 *
 * An internal cursor from zdb_determine_row_cursor is valid until the close
 * of its cursor (zdb_close, or zdb_logoff) frees it; the calls that take one
 * refuse it afterwards, without reading it, with 509. */
#ifndef MOLVANE_ZDB_DLOCK_H
#define MOLVANE_ZDB_DLOCK_H

#include <molvane/export.h>

MOLVANE_EXTERN_C_BEGIN

struct DD_TABLE;
struct ZDB_CURSOR;
struct ZDB_INTERNAL_CURSOR;

/* The internal cursor of `cursor` for the company number in the row's (or
 * the company bind's) _compnr field; 0xFFFF there takes the cursor's default
 * company. 0, or -1 with zdb_errno (519 when no company number is known). */
MOLVANE_API int zdb_determine_row_cursor(struct ZDB_INTERNAL_CURSOR **result,
                                         struct ZDB_CURSOR *cursor);

/* Makes `first_id` the next id handed out on the internal cursor's table.
 * Only allowed after the table has stored rows once and while its current
 * generation holds none (for example right after a transaction end). 0, or
 * -1 with zdb_errno (102 for an id below 1, 215 when not allowed now). */
MOLVANE_API int init_dlock_offset(struct ZDB_INTERNAL_CURSOR *icursor, int first_id);

/* Keeps the row's image and returns its id (a row whose key is kept already
 * replaces that image and keeps its id); -1 with zdb_errno on failure. The id
 * is not written into the row: see put_dlock_in_row. */
MOLVANE_API int put_dlock_row(struct ZDB_INTERNAL_CURSOR *icursor, const unsigned char *row);

/* put_dlock_row, and the row stays kept under the same id across commits of
 * the transaction until the transaction aborts. */
MOLVANE_API int put_commit_resistant_dlock_row(struct ZDB_INTERNAL_CURSOR *icursor,
                                               const unsigned char *row);

/* Writes (reads) the delayed-lock id of a row image of `table`. */
MOLVANE_API void put_dlock_in_row(const struct DD_TABLE *table, unsigned char *row, int id);
MOLVANE_API int get_dlock_from_row(const struct DD_TABLE *table, const unsigned char *row);

MOLVANE_EXTERN_C_END

#endif
