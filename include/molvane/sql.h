/* The classic SQL API: statement handles over SQL texts, and the host
 * callbacks through which every value travels between the library and the
 * host program.
 *
 * One round of a handle: sql_parse, then any number of (sql_bind_input /
 * sql_sel_bind, sql_exec, sql_fetch until -1 or sql_break), then sql_close.
 * A failing call returns -1 (or null) and leaves its error number in
 * zdb_errno and on the handle (sql_get_error); its text ("SQLState <state>:
 * <message> (<number>)") is the message of the call (get_zdb_msg) and goes
 * to the error callback (callback 1) when one is installed. The end of the
 * rows (110, 111) is no error: callback 1 is not called, and the text, in
 * the record API's words, names the statement ("No record found: the SELECT
 * gave no row (SELECT ...)"). A handle that is not live fails with 314, its
 * text naming the handle as "%p" prints it and why it was refused (null,
 * closed by sql_close, not open). Each call starts
 * with an empty message, as the calls of <molvane/zdb.h> do; sql_get_error,
 * sql_row_count, sql_action_type, sql_query_with_rpoint, sql_action and
 * sql_init_func leave it as it is. */
#ifndef MOLVANE_SQL_H
#define MOLVANE_SQL_H

#include <stdint.h>

#include <molvane/export.h>

MOLVANE_EXTERN_C_BEGIN

/* A statement handle; valid from sql_parse to sql_close. */
typedef struct QPCStatement QPCStatement;

/* Flags of sql_parse. */
enum {
  SQL_PARSE_NO_ERROR_CALLBACK = 0x01, /* failures of this call skip the error callback */
  SQL_PARSE_TABLE_REF_FLAG = 0x02,    /* prepare mode bit 0x01 */
  SQL_PARSE_FROM_OPTIONAL = 0x04,     /* prepare mode bit 0x02: FROM may be omitted */
  SQL_PARSE_WHERE_USED = 0x08,        /* report used tables and columns to SQL_WHERE_USED */
  SQL_PARSE_ANSI = 0x10,              /* ANSI mode */
  SQL_PARSE_NAME_RESOLUTION = 0x20    /* select option of name resolution */
};

/* Action codes of sql_action and sql_action_type. */
enum { SQL_ACTION_SELECT = 1, SQL_ACTION_UPDATE = 2, SQL_ACTION_DELETE = 4 };

/* Type codes of values and fields (the dictionary's column types). */
enum {
  SQL_TYPE_INTEGER = 3, /* 32-bit integer, big-endian in fields */
  SQL_TYPE_REAL = 5,    /* double, least significant byte first in fields */
  SQL_TYPE_STRING = 6,  /* blank-padded text */
  SQL_TYPE_DATE = 7,    /* day number */
  SQL_TYPE_TIMESTAMP = 8, /* seconds since 1970, UTC */
  SQL_TYPE_RAW = 15     /* bytes */
};

/* The host callbacks, by number for sql_init_func. */
enum {
  SQL_FUNC_ERROR = 1,      /* sql_error_func */
  SQL_FUNC_CRT_EXTVAR = 5, /* sql_crt_extvar_func */
  SQL_FUNC_GET_EXTVAR = 6, /* sql_get_extvar_func */
  SQL_FUNC_PUT_EXTVAR = 7, /* sql_put_extvar_func */
  SQL_WHERE_USED = 8       /* sql_where_used_func */
};

/* Error numbers of the SQL calls (docs/errors.md); a call may also fail
 * with a number of the record API (<molvane/zdb_errors.h>), such as 505 or
 * 518. */
enum {
  SQL_ERR_NO_MORE_ROWS = 110,      /* a later fetch found no more rows */
  SQL_ERR_NO_ROWS = 111,           /* no row at all (fetch, or UPDATE/DELETE touched none) */
  SQL_ERR_STATEMENT = 301,         /* the API's own errors and statement-layer failures */
  SQL_ERR_PARSE = 302,             /* errors while describing a parsed statement */
  SQL_ERR_OVERFLOW_FILE = 304,     /* a row set's overflow file could not be made */
  SQL_ERR_DIVISION_BY_ZERO = 306,  /* 22012 */
  SQL_ERR_STRING_TRUNCATION = 307, /* 22001: a value longer than its target */
  SQL_ERR_ARRAY_INDEX = 308,       /* an array element outside the column's dimensions */
  SQL_ERR_SUBSTRING = 309,         /* 22011 */
  SQL_ERR_CARDINALITY = 310,       /* 21000: a scalar subquery gave more than one row */
  SQL_ERR_TEMP_FILE = 311,         /* QP020: the engine's temporary file failed */
  SQL_ERR_PARAMETER_TYPE = 312,    /* QP010: a value of the wrong type for a parameter */
  SQL_ERR_TIMEOUT = 313,           /* the statement ran longer than its time-out */
  SQL_ERR_INVALID_HANDLE = 314,    /* not a live handle */
  SQL_ERR_LENGTH_MISMATCH = 315,   /* 22026: a raw value shorter than its field */
  SQL_ERR_ZERO_LENGTH_RAW = 316,   /* QP011: a raw value of length 0 */
  SQL_ERR_TRIM = 317,              /* 22027: a trim character that is not one character */
  SQL_ERR_ESCAPE_CHARACTER = 319,  /* 22019: an ESCAPE that is not one character */
  SQL_ERR_ESCAPE_SEQUENCE = 325    /* 22025: an escape followed by another character */
};

/* The value that the get-value callback fills: a 32-bit integer, a double,
 * or the bytes of a string or raw value. */
typedef union SqlVal {
  int32_t l;
  double d;
  unsigned char *s;
} SqlVal;

/* 1: receives each error text with the statement line (0 when none). */
typedef int (*sql_error_func)(int line, char *text);
/* 5: the host variable of a name; *kind is 1 for an input parameter or a
 * select item, 2 for a select-star table (then the host also stores a
 * record pointer through `record`). dims is null and extra 0. Null: no
 * such variable. */
typedef char *(*sql_crt_extvar_func)(char *name, unsigned char *kind, char **record,
                                     int *const dims, unsigned long extra);
/* 6: the value of a variable with its type code (3, 5 or 6) and, for bytes,
 * their length; 0 on success. */
typedef int (*sql_get_extvar_func)(char *var, SqlVal *value, unsigned char *type, int *length);
/* 7: a fetched column (field bytes, type code, length, {depth, 0, 0}), or
 * for a select-star table its record pointer, type 0, the lock kind (0 not
 * for update, 1, or 2 with an inclusive RETRY clause) and null dims. The
 * field bytes are no C value: types 3, 7 and 8 come as 4 bytes, the most
 * significant first on every machine (copied into an int32_t on x86, 1
 * reads as 16777216), type 5 as a double's 8 bytes, least significant
 * first, and a string blank-padded without a NUL (docs/first-table.md
 * decodes them). The host's callback stores the value through `var`; the
 * default, when none is installed, stores nothing. */
typedef void (*sql_put_extvar_func)(char *var, unsigned char *data, unsigned char type,
                                    int length, int *dims);
/* 8: a table name (kind 2) or "table.column" (kind 3) the statement uses. */
typedef void (*sql_where_used_func)(const char *name, int kind);

/* Any callback, as sql_init_func takes and returns it. */
typedef void (*sql_func)(void);

/* Installs callback `number` and returns the previous one; any number but
 * 1, 5, 6, 7 and 8 changes nothing and returns null. */
MOLVANE_API sql_func sql_init_func(int number, sql_func function);

/* A new handle for a statement text in a session (a transaction id from
 * zdb_start_session), or null with zdb_errno and the message: 508 before
 * zdb_logon, 518 for an id not in use, else the statement's own error. */
MOLVANE_API QPCStatement *sql_parse(const char *text, unsigned long session, int flags);
/* Binds a value to the first parameter of that name (":name", or "name").
 * `value` is the address of the value: of an int32_t for type 3, of a
 * double for type 5, and for types 6 and 15 the address of a pointer to
 * the bytes (a `char **`, not the bytes themselves). `length` counts the
 * bytes of types 6 and 15; a string ends at its first NUL or after
 * `length` bytes. For example:
 *   const char *code = "SALES";
 *   sql_bind_input(stmt, ":code", SQL_TYPE_STRING, (int)strlen(code), &code);
 * A DATE parameter is bound as type 3 with its day number (day 1 is
 * 1 January of year 1; date_to_num of <molvane/datetime.h> gives it), a
 * TIMESTAMP parameter as type 3 with its seconds since 1970-01-01 00:00:00
 * UTC (al_pack_utc):
 *   int32_t day = date_to_num(2024, 3, 1);
 *   sql_bind_input(stmt, ":hired", SQL_TYPE_INTEGER, 4, &day);
 * Types 7 and 8 are refused (-1, 301, HYL01, with this advice). A value of
 * the wrong type for the parameter is refused with -1 and 312 (QP010), a
 * raw value of length 0 with 316 (QP011); the parameter keeps its value.
 * The value is copied; the host's variable may change after the call. */
MOLVANE_API int sql_bind_input(QPCStatement *handle, const char *name, int type, int length,
                               void *value);
/* The same as sql_bind_input, under its other name: binds a value to the
 * parameter of that name with the same arguments and results. */
MOLVANE_API int sql_wh_bind(QPCStatement *handle, const char *name, int type, int length,
                            void *value);
/* Every select item of that name is delivered to `variable`: at each
 * sql_fetch the library calls callback 7 (the sql_put_extvar_func installed
 * with sql_init_func(SQL_FUNC_PUT_EXTVAR, ...)) with `variable` and the
 * item's field bytes, and the callback stores them; the library never
 * writes through `variable` itself. Without callback 7 installed its
 * default stores nothing: sql_exec and sql_fetch succeed and the variables
 * keep what they held (the log says once "Function SQL_FUNC_PUT_EXTVAR not
 * defined"). An item is named by the host variable written after it
 * (COUNT(*) :n, named ":n" or "n", as sql_bind_input names a parameter),
 * else by its alias (AS n), else, for a column, by the full name
 * "table.column" of its table (not the alias of the table):
 * "exdep010.code", never "code". A name that an item has exactly binds
 * only the items of that name. A null variable is refused: -1 with 301
 * (HY009), "Null variable for select item '<name>': ...". A name no item
 * has is refused: -1 with 301 (HYL02), and the message lists the names the
 * items have. */
MOLVANE_API int sql_sel_bind(QPCStatement *handle, const char *name, char *variable);
/* Executes for a company number (0 to 999). */
MOLVANE_API int sql_exec(QPCStatement *handle, short compnr);
/* Delivers the next row through the put-value callback: callback 7 gets
 * each select item's value with the item's variable (sql_sel_bind); -1
 * with 111 (no row at all) or 110 (no more rows) at the end. */
MOLVANE_API int sql_fetch(QPCStatement *handle);
/* Rows the last successful sql_exec of an UPDATE or DELETE changed (0 when
 * it touched none and failed with 111; 0 for a select); -1 for a bad handle. */
MOLVANE_API int sql_row_count(QPCStatement *handle);
/* Ends the rows of the last sql_exec before its end: the result is given
 * up (the driver stops it) and the next sql_fetch fails until the next
 * sql_exec, which runs the statement again with the values bound then.
 * 0 (also with nothing executed), or -1 for a bad handle. */
MOLVANE_API int sql_break(QPCStatement *handle);
MOLVANE_API int sql_close(QPCStatement *handle);
/* The handle's last error number and text ("" when none). */
MOLVANE_API int sql_get_error(QPCStatement *handle, int32_t *error, const char **text);
/* "select", "update", "delete" or "unknown sql statement". */
MOLVANE_API const char *sql_action(int code);
MOLVANE_API int sql_action_type(QPCStatement *handle);
/* 1 when the statement has a RETRY clause, 0 when not. */
MOLVANE_API int sql_query_with_rpoint(QPCStatement *handle);
/* Retry points, for a SELECT with a RETRY clause ("... ORDER BY emp WITH
 * RETRY", or "WITH RETRY REPEAT LAST ROW"); on any other statement both
 * fail with -1, 301 and HYS03. sql_save_rpoint, between sql_exec and the
 * end of the rows, saves the point of the rows fetched so far (after the
 * last row, also after the end). sql_retry runs the statement again from
 * the last point saved: the next sql_fetch gives the row after the last row
 * fetched before the save (with REPEAT LAST ROW, that last row again), and
 * no row when the point was saved after the end. Called before sql_exec,
 * they fail with 301 and HY010 ("SaveRetryValues" or "Retry" called out of
 * sequence). */
MOLVANE_API int sql_save_rpoint(QPCStatement *handle);
MOLVANE_API int sql_retry(QPCStatement *handle);
/* Rows per network fetch of the next executions. */
MOLVANE_API int sql_set_rds_full(QPCStatement *handle, int rows);
/* Time-out in seconds of the next executions (0 none). */
MOLVANE_API int sql_set_timeout(QPCStatement *handle, int seconds);
/* Reads the trace level of the API from the setting tt_sql_trace. */
MOLVANE_API void init_qpc_debug(void);

MOLVANE_EXTERN_C_END

#endif
