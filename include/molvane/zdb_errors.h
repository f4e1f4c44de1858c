/* Error numbers of the record-level database API (zdb_* calls): what a
 * failing call leaves in zdb_errno. zdberrorstr gives a number's text,
 * get_zdb_msg the cause of the last failure in words, docs/errors.md what to
 * do. The SQL calls' own numbers (110, 111, and 301 to 325: SQL_ERR_...)
 * are in <molvane/sql.h>.
 *
 * Ending a read loop: db_first or db_last on a table (company) without rows,
 * and db_next or db_prev past the last row, fail with ZE_END_OF_FILE (110);
 * a keyed read (db_eq, db_ge, ...) that finds no row fails with
 * ZE_NO_RECORD (111). A loop over db_first and db_next stops at 110, any
 * other number is an error. */
#ifndef MOLVANE_ZDB_ERRORS_H
#define MOLVANE_ZDB_ERRORS_H

#define ZE_DUPLICATE_VALUE       100 /* an insert or update would repeat a unique key */
#define ZE_ILLEGAL_ARGUMENT      102 /* a null or out-of-range argument */
#define ZE_ILLEGAL_KEY           103 /* an index number or key the table does not have */
#define ZE_LOCKED                107 /* a row, a table or the database held by another session */
#define ZE_END_OF_FILE           110 /* db_first on no rows, db_next or db_prev past the end */
#define ZE_NO_RECORD             111 /* no row with the key of a keyed read */
#define ZE_NO_CURRENT            112 /* an update, delete or db_next without a current row */
#define ZE_CHANGED               201 /* the row changed since its delayed lock */
#define ZE_IN_TRANSACTION        203 /* the action needs a transaction without pending work */
#define ZE_OUT_OF_RANGE          205 /* a value outside its column's type or domain */
#define ZE_NOT_LOCKED            206 /* a write without a lock on the row, or no delayed-lock entry */
#define ZE_NO_PERMISSION         208 /* the user's roles (db_roles) do not allow the action */
#define ZE_NOT_UPDATED           213 /* a driver's transaction was started but changed nothing */
#define ZE_MAPPED_COMPNR         214 /* refused for a company mapped to another physical one */
#define ZE_ILLEGAL_STATE         215 /* a call out of order, e.g. zdb_logon before zdb_init_api */
#define ZE_ROLE_SYNTAX           217 /* a role or permission file does not parse */
#define ZE_AUDIT_SETUP           251 /* the audit driver setup is not correct */
#define ZE_TNR_FAILED            254 /* transaction-notification rows not written */
#define ZE_INCONSISTENT_COMPNR   401 /* the company number mapping is not consistent */
#define ZE_TSS_MODE              402 /* the driver's configuration does not fit the client's */
#define ZE_MEMORY                501 /* memory ran out */
#define ZE_ALREADY_LOGGED_ON     502 /* a second zdb_logon in the process, even after zdb_logoff */
#define ZE_NULL_VARIABLE         503 /* a bind of zdb_open without a variable address */
#define ZE_BAD_COLUMN            504 /* a bind on an unknown column, or a type that does not fit; ddcolumn of a column the dictionary lacks */
#define ZE_NO_DRIVER             505 /* no driver serves the table, or none could be started */
#define ZE_NO_TABLE              506 /* the driver has no such table (create_table makes it);
                                      * the reference driver makes a table at its first use and
                                      * again at drop_table, so it reads as empty, never 506 */
#define ZE_NOT_LOGGED_ON         508 /* a call before zdb_logon */
#define ZE_BAD_CURSOR            509 /* a null or closed cursor */
#define ZE_COMMUNICATION         510 /* a request or reply was cut short or broke the protocol */
#define ZE_SQL_PROTOCOL          511 /* the driver speaks another SQL protocol */
#define ZE_DD_CORRUPT            512 /* a dictionary dump is damaged */
#define ZE_NO_DD                 513 /* no dictionary dump of the table */
#define ZE_ALLOCATION            517 /* a block of the library could not be allocated */
#define ZE_INVALID_SESSION       518 /* no transaction with that id */
#define ZE_ILLEGAL_COMPNR        519 /* no company number, or one outside 0..999 */
#define ZE_BUFFERED_UPDATE       520 /* a buffered update failed: zdb_get_detail_error says which */
#define ZE_NO_RESOURCE           525 /* all 255 transaction ids are in use */
#define ZE_REF_UNMAPPABLE        600 /* a reference error without a number of its own */
#define ZE_REF_LOCKED            601 /* a table of a reference is locked */
#define ZE_REF_UNDEFINED         602 /* a reference names a column that has none */
#define ZE_REF_STILL_REFERENCED  605 /* a row that others still refer to cannot go */
#define ZE_REF_NO_PARENT         606 /* the row a reference points to does not exist */
#define ZE_REF_NO_PARENT_TABLE   607 /* the table a reference points to is not found */
#define ZE_REF_NO_COUNTERS       608 /* the table has no reference counters */
#define ZE_REF_COUNTER_UPDATE    609 /* a reference check or counter update failed */
#define ZE_STORAGE_FULL          701 /* the disk, or the database file's size limit, is full */
#define ZE_STORAGE_READONLY      702 /* the database file cannot be written */
#define ZE_STORAGE_IO            703 /* reading or writing the database file failed */
#define ZE_STORAGE_CORRUPT       704 /* the database file is damaged or no database */

#endif
