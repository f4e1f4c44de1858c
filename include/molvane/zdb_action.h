/* Row, table and transaction actions of the record-level database API.
 *
 * A row action works on a cursor's row (its bound variables, or the row
 * buffer given to zdb_open) in one company: positioning reads, locked and
 * delayed-lock reads, inserts, deletes, updates and the buffered forms that
 * wait in the client until a flush. A table action works on the cursor's
 * table in one company; a transaction action on a transaction id.
 *
 * Every call returns 0 on success and -1 on failure with the error number in
 * zdb_errno (named in <molvane/zdb_errors.h>) and its cause in get_zdb_msg.
 * A failed buffered update reports its own error, and get_zdb_msg its cause
 * ("Duplicate key code = SALES in exdep010001 (index 1)"); a commit or flush
 * that fails with 520 names the update in get_zdb_msg ("the update of
 * exdep010001 failed with error 100 (duplicate key): ..."). The details stay
 * available through zdb_get_detail_error.
 *
 * A loop over the rows ends with an error number, not a flag:
 *   if (zdb_exec_row(c, db_first, 0, 0xFFFF) == 0)
 *     do { ... } while (zdb_exec_row(c, db_next, 0, 0xFFFF) == 0);
 *   if (zdb_errno != ZE_END_OF_FILE) ...error...
 * db_first on a table (company) without rows and db_next past the last row
 * fail with ZE_END_OF_FILE (110), get_zdb_msg() naming the table and which;
 * a keyed read that finds no row fails with ZE_NO_RECORD (111). */
#ifndef MOLVANE_ZDB_ACTION_H
#define MOLVANE_ZDB_ACTION_H

#include <molvane/export.h>

MOLVANE_EXTERN_C_BEGIN

struct ZDB_CURSOR;

/* Host flags of a row action (the third argument of zdb_exec_row). */
enum ZDB_ROW_FLAGS {
  ZDB_FLAG_FLUSH = 0x1,            /* send the buffered updates at once */
  ZDB_FLAG_NOT_FOUND_OK = 0x4,     /* 111 "No record found" counts as success */
  ZDB_FLAG_DUPLICATE_OK = 0x10,    /* 100 "Duplicate value" counts as success */
  ZDB_FLAG_CHANGED_OK = 0x40,      /* 201 "Record changed after delayed lock" counts as success */
  ZDB_FLAG_CONDITIONAL_REFS = 0x10000, /* conditional references take part */
  ZDB_FLAG_CHECK_CHANGED = 0x20000 /* update: compare with the kept image only */
};

/* Runs row action `action` (enum ZDB_ROW_ACTION) on the cursor's row in
 * company `compnr` (0xFFFF: the cursor's default company). After a call that
 * reached a driver the row's company number field (or company bind) holds the
 * company used. A failure leaves the bound variables as they were. */
MOLVANE_API int zdb_exec_row(struct ZDB_CURSOR *cursor, int action, int flags, int compnr);

/* Runs table action `action` (enum ZDB_TABLE_ACTION) on the cursor's table in
 * company `compnr` (0xFFFF: the cursor's default). `argument` points to the
 * argument words: the index number of change_order, the mode word of
 * clear_table and drop_table; nr_rows leaves the row count in the first word.
 * It may be null for actions that take no argument. With the reference
 * driver a dropped table reads as a table never made in that company: as
 * an empty table, which the driver makes anew at once. */
MOLVANE_API int zdb_exec_table(struct ZDB_CURSOR *cursor, int action, int *argument, int compnr);

/* Runs transaction action `action` (enum ZDB_DB_ACTION) on transaction
 * `trans_id`. A commit sends the buffered updates first; when anything of a
 * commit fails, every driver session of the transaction aborts and the call
 * returns -1 with the first error. */
MOLVANE_API int zdb_exec_db(int action, int trans_id);

/* Sends the buffered updates of a transaction. */
MOLVANE_API int zdb_flush(int trans_id);

/* Sends a session command (with `length` bytes of `text`) to every driver
 * session of the transaction, stopping at the first failure. */
MOLVANE_API int zdb_exec_transaction(int code, const char *text, int length, int trans_id);

/* Sends a driver command to every attached driver that serves a session of
 * the transaction, stopping at the first failure. */
MOLVANE_API int zdb_exec_server(int code, const char *text, int length, int trans_id);

/* The delayed-lock id under which a row with the key of `row` is kept for
 * the cursor's table in company `compnr` (0 when none); -1 with 519 when no
 * company number resolves. */
MOLVANE_API int zdb_check_row_dlocked(struct ZDB_CURSOR *cursor, const unsigned char *row,
                                      int compnr);

/* Points *image at the kept image of the row's delayed-lock id (in the
 * row's company); 0, or -1 when the id is not kept. */
MOLVANE_API int zdb_retrieve_dlock_row(struct ZDB_CURSOR *cursor, const unsigned char *row,
                                       const unsigned char **image);

/* The physical company number of the cursor's table for a logical company
 * number, -1 on failure. */
MOLVANE_API int zdb_get_phys_compnr(struct ZDB_CURSOR *cursor, int compnr);

MOLVANE_EXTERN_C_END

#endif
