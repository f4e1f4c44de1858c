/* Cursors of the record-level database API: a cursor works on one table in a
 * transaction, with a default company number and, optionally, bound program
 * variables that stand for the row.
 *
 * A cursor handle is valid from zdb_open until zdb_close closes it, or
 * zdb_logoff, which closes every cursor still open and aborts what is not
 * committed. Every call that takes a cursor refuses a handle that is not
 * open, without reading it: -1 (null for zdb_bind_to_buf) with 509, and
 * get_zdb_msg says whether the cursor was null, closed at logoff, or closed
 * by zdb_close (or never opened). */
#ifndef MOLVANE_ZDB_CURSOR_H
#define MOLVANE_ZDB_CURSOR_H

#include <molvane/export.h>

MOLVANE_EXTERN_C_BEGIN

typedef struct ZDB_CURSOR ZDB_CURSOR;

/* The type codes of a bound variable (ZDB_HOST_BIND.type); they are the
 * dictionary's column type codes (DDT_* of <molvane/dd.h>).
 *
 * Which variable binds to which column: an integer variable (byte, short,
 * long) to any integer column (byte, short, long, and the date, time, long
 * variants and set columns, which are 32-bit integers; enumerations are
 * bytes), narrowing to the low bytes and widening with the variable's sign;
 * a float or double variable to a float or double column (rounded to the
 * column's digits); a string variable only to a string column, a multibyte
 * string variable only to a multibyte string column, a raw variable only to
 * a raw column. Any other pair, and a combined column, is refused with 504
 * and the reason in get_zdb_msg.
 *
 * Byte order: the variables hold native values in the host's byte order
 * (an int32_t for ZDB_BIND_LONG, a double for ZDB_BIND_DOUBLE); the library
 * converts them to and from the row's stored order. Strings are
 * blank-padded and not NUL-ended: `length` bytes, the rest of a longer
 * column filled with blanks (raw bytes with 0); a variable longer than its
 * column gets the column's bytes and, after every read, blanks (raw
 * variables 0) to its own `length`.
 *
 * What an insert or update stores of a variable that does not fit its
 * column, without an error or a word in get_zdb_msg: a string or raw
 * variable longer than its column is cut to the column's length (its first
 * bytes); an integer variable wider than its column keeps only its low
 * bytes (an int32_t of 70000 on a short column is stored as 4464, of 300 on
 * a byte column as 44). A host that must not lose such values checks them
 * against the column (ddcolumn, or zdb_domain_check of <molvane/zdb_domain.h>
 * for the domain's range) before the action. */
enum ZDB_BIND_TYPE {
  ZDB_BIND_BYTE = 1,      /* unsigned char */
  ZDB_BIND_SHORT = 2,     /* int16_t */
  ZDB_BIND_LONG = 3,      /* int32_t; also for date (7), time (8) and set (12) columns */
  ZDB_BIND_FLOAT = 4,     /* float */
  ZDB_BIND_DOUBLE = 5,    /* double */
  ZDB_BIND_STRING = 6,    /* char[length], blank-padded */
  ZDB_BIND_MBSTRING = 14, /* multibyte text, char[length], blank-padded */
  ZDB_BIND_RAW = 15       /* unsigned char[length] */
};

/* One bound program variable, as the host describes it to zdb_open. */
typedef struct ZDB_HOST_BIND {
  void *address;         /* the variable; a null address is refused (503) */
  unsigned short length; /* size of a string or raw variable (one element) */
  unsigned short depth;  /* number of array elements of the variable */
  char column[18];       /* the column's full name, "tttttttt.cccccccc" */
  unsigned short type;   /* the variable's type: enum ZDB_BIND_TYPE */
} ZDB_HOST_BIND;

/* Opens a cursor on a table in transaction trans_id. compnr is the default
 * company of its actions (0 to 999; -1 for none, each action then names its
 * own). With count > 0, binds points to count ZDB_HOST_BIND records; with
 * count 0 it is the host's row buffer. 0 and *cursor set, or -1 with
 * zdb_errno: 215 no table name or a call before zdb_init_api (which loads
 * the dictionary), 513 no dictionary, 518 bad transaction, 102
 * a null cursor address or bind list, 519 a company number outside 0..999,
 * 501 memory, 503 null variable address, 504 unknown column or a type pair
 * that cannot be converted; get_zdb_msg says why (for 503 and 504 it names
 * the bind, from 1, its column and the reason). */
MOLVANE_API int zdb_open(ZDB_CURSOR **cursor, const char *table, int compnr, void *binds,
                         int count, int trans_id);
/* Closes the cursor and its internal cursors; the handle is gone. 0, or -1
 * with 509 for a cursor that is not open (one zdb_logoff closed included). */
MOLVANE_API int zdb_close(ZDB_CURSOR *cursor);
/* Sets the company number used when an action passes 0xFFFF; -1 for a null
 * cursor (509) or a number outside 0..999 (519; the old default stays). */
MOLVANE_API int zdb_set_default_compnr(ZDB_CURSOR *cursor, int compnr);
MOLVANE_API int zdb_get_default_compnr(ZDB_CURSOR *cursor);
/* Copies the bound variables into the row and returns the row; without
 * binds returns the host's row buffer given to zdb_open. */
MOLVANE_API unsigned char *zdb_bind_to_buf(ZDB_CURSOR *cursor, unsigned char *row);
/* Copies the row into the bound variables (nothing for a null row); 0, or
 * -1 with 509 for a cursor that is not open. */
MOLVANE_API int zdb_buf_to_bind(ZDB_CURSOR *cursor, const unsigned char *row);

MOLVANE_EXTERN_C_END

#endif
