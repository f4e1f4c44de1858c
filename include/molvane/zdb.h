/* The record-level database API: logon, transactions (sessions), action
 * names, user information and the message text of the last call.
 *
 * The order of the calls of a host program (examples/quickstart.c):
 *   1. set_zuv (or the variable ZUV) and log_set_log_hook  <molvane/platform.h>
 *   2. zdb_init_api: reads the user's settings and prepares the dictionary;
 *      zdb_logon, and zdb_open, ddtable and ddcolumn (which need the
 *      dictionary), refuse to run before it (215, naming zdb_init_api)
 *   3. sql_init_func for the SQL callbacks                 <molvane/sql.h>
 *   4. zdb_logon, once per process
 *   5. zdb_start_session, then cursors (zdb_open) and SQL statements
 *      (sql_parse) in that transaction, and zdb_exec_db to commit or abort
 *   6. zdb_close, sql_close, zdb_stop_session, zdb_logoff
 * Every call comes from one thread. A failing call returns -1 (0 for
 * zdb_start_session, null for the calls that return a pointer) and leaves
 * its number in zdb_errno (named in <molvane/zdb_errors.h>; zdberrorstr
 * gives its text, docs/errors.md says what to do) and its cause in words in
 * get_zdb_msg.
 *
 * Each call of this API and of the SQL API (<molvane/sql.h>) starts with an
 * empty message, so get_zdb_msg tells the cause of the call just made and
 * nothing of an earlier one; a successful call leaves it empty, except
 * zdb_logon, which leaves the warnings it names below. The
 * calls that cannot fail (the action names, zdberrorstr, zdberrorname,
 * zdberror_next, the user record, put_dlock_in_row, get_dlock_from_row,
 * zdb_disable_references, sql_action, sql_init_func) and those that only
 * read what earlier calls left (get_zdb_msg, zdb_get_zdb_errno,
 * zdb_get_detail_error, zdb_get_default_compnr, sql_get_error,
 * sql_row_count, sql_action_type, sql_query_with_rpoint) leave the message
 * as it is, so that a host may call them between a failure and its report;
 * a handle they refuse replaces it.
 *
 * A cursor handle is valid from zdb_open to its close by zdb_close or
 * zdb_logoff. A call given a handle that is not open (null, closed, or never
 * opened) is refused with 509 and get_zdb_msg says which; the handle is not
 * read, so a late close (a C++ destructor after zdb_logoff) does no harm.
 *
 * A lost driver connection (the driver process died after it had served, a
 * driver server went away) ends the host process: the library logs
 * "Detected server disconnection" and calls exit(1). A host cannot install
 * another handler. A driver that ends before it has answered its attachment
 * (a mistyped option on its lib/ipc_info line) is no lost connection: the
 * call that needed it fails with 505 and get_zdb_msg says how it ended
 * ("driver msqlite ended at start with exit status 2"), after the driver's
 * alternatives were tried. */
#ifndef MOLVANE_ZDB_H
#define MOLVANE_ZDB_H

#include <molvane/export.h>

MOLVANE_EXTERN_C_BEGIN

/* Row actions: the code of a row action in the low byte of its action word. */
enum ZDB_ROW_ACTION {
  db_first = 1, db_first_locked = 2, db_last = 3, db_last_locked = 4,
  db_next = 5, db_next_locked = 6, db_prev = 7, db_prev_locked = 8,
  db_gt = 9, db_gt_locked = 10, db_ge = 11, db_ge_locked = 12,
  db_eq = 13, db_eq_locked = 14, db_curr = 15, db_curr_locked = 16,
  db_lt = 17, db_lt_locked = 18, db_le = 19, db_le_locked = 20,
  db_delete = 21, db_insert = 22, db_update = 23, db_lock_ref = 24,
  db_first_delayed = 31, db_last_delayed = 32, db_next_delayed = 33,
  db_prev_delayed = 34, db_gt_delayed = 35, db_ge_delayed = 36,
  db_eq_delayed = 37, db_curr_delayed = 38, db_lt_delayed = 39,
  db_le_delayed = 40, db_delete_delayed = 41, db_update_delayed = 42,
  db_check_row_changed = 43,
  db_first_51 = 51, db_last_51 = 52, db_next_51 = 53, db_prev_51 = 54,
  db_gt_51 = 55, db_ge_51 = 56, db_eq_51 = 57, db_curr_51 = 58,
  db_lt_51 = 59, db_le_51 = 60, db_delete_51 = 61, db_insert_51 = 62,
  db_update_51 = 63, db_refcnt_51 = 64,
  /* Buffered actions as the driver sees them (names only). */
  insert_bfrd = 101, delete_bfrd = 102, update_bfrd = 103, refcnt_bfrd = 104,
  refresh_bfrd = 105, complex_del_bfrd = 106, complex_upd_bfrd = 107,
  read_bfrd = 108
};

/* Table actions. */
enum ZDB_TABLE_ACTION {
  create_index = 1, drop_index = 2, change_order = 3, create_table = 4,
  clear_table = 5, drop_table = 6, lock_table = 7, nr_rows = 8,
  clr_ref_cnt = 9, alter_table = 10, start_import = 11, end_import = 12,
  upd_statistics = 13
};

/* Transaction actions. */
enum ZDB_DB_ACTION {
  commit_trans = 1, set_readonly = 2, abort_trans = 3,
  ERROR_prepare_commit = 4, trans_not_active = 5, start_transaction = 6,
  audit_commit_table_action = 7, audit_abort_table_action = 8, db_flush = 9
};

/* Error number of the last failing call (0 after a successful start check). */
MOLVANE_API extern int zdb_errno;
MOLVANE_API int zdb_get_zdb_errno(void);

/* Start-up: log program name, user settings, trace, optional shared memory,
 * local dictionary and TSS locale. 0, or the first non-zero step result. */
MOLVANE_API int zdb_init_api(const char *progname, const char *log_arg,
                             int link_shm, int locale_arg);
/* One logon per process; a second one, even after zdb_logoff, fails with
 * 502 (get_zdb_msg says so): a program that logs on again starts a new
 * process. Authenticates nobody: `user` is only a name. The user record and
 * the settings that count (user type, db_roles, ...) are those of the user
 * that zdb_init_api found, ZUV_USER or else the login name, read from
 * lib/user/u<that name>, whatever name `user` is. Without an environment
 * root, with a root that is not a folder, when a line of a settings file
 * names no known setting or has no colon (the file and line are named; the
 * line is ignored), when `user` is another name than the one whose settings
 * count, and when that user has no settings file, the logon succeeds with a
 * warning in get_zdb_msg and the log that names the file read.
 * 0 or -1. */
MOLVANE_API int zdb_logon(const char *user);
/* Ends the work of the process: every transaction is ended and what it has
 * not committed is aborted (also what a transaction stopped with
 * zdb_stop_session left), every cursor still open is closed (its handle is
 * refused afterwards with 509, saying the cursor was closed at logoff), and
 * the drivers are released. A process that ends without zdb_logoff also
 * loses what it has not committed: its drivers abort it. 0 or -1. */
MOLVANE_API int zdb_logoff(void);

/* Transactions ("sessions"): ids 1 to 255; 0 on failure (525 when all
 * are in use). */
MOLVANE_API int zdb_start_session(const char *name);
/* Gives the id back. It neither commits nor aborts: changes not yet
 * committed stay in the driver sessions, and the next transaction that gets
 * the same id from zdb_start_session inherits them (its commit commits
 * them). Commit or abort with zdb_exec_db before stopping. */
MOLVANE_API int zdb_stop_session(int id);
MOLVANE_API int zdb_set_default_query_timeout(int id, int seconds);

/* The physical company number of a table's logical company number, or
 * 0xFFFF on error. */
MOLVANE_API unsigned short zdb_get_physical_compnr(const char *table, int compnr);

/* Names of row, table and transaction action codes. */
MOLVANE_API const char *zdb_row_action(int code);
MOLVANE_API const char *zdb_table_action(int code);
MOLVANE_API const char *zdb_db_action(int code);

/* The user record, read at start-up. The buffer variants copy the text with
 * its NUL and return the buffer; a null buffer returns null. */
MOLVANE_API char zdb_user_info_get_language(void);
MOLVANE_API char zdb_user_info_get_user_type(void);
MOLVANE_API char *zdb_user_info_get_locale(char *buffer);
MOLVANE_API char *zdb_user_info_get_package_combination(char *buffer);
MOLVANE_API char *zdb_user_info_get_timezone(char *buffer);
MOLVANE_API char *zdb_user_info_get_user_name(char *buffer);

/* Message text collected during the last API call: "" when it left none;
 * null before the first call. */
MOLVANE_API const char *get_zdb_msg(void);
MOLVANE_API void reset_zdb_msg(void);

/* The text of an error number ("Duplicate value" for 100; a generic text of
 * its hundred for a number without its own) and its short name ("duplicate
 * key"; null for a number without one). Static texts. docs/errors.md lists
 * every number with its meaning. */
MOLVANE_API const char *zdberrorstr(int err);
MOLVANE_API const char *zdberrorname(int err);
/* The error table's numbers in ascending order: the first number above
 * `after`, or 0 past the last (zdberror_next(0) is the first). */
MOLVANE_API int zdberror_next(int after);

MOLVANE_EXTERN_C_END

#endif
