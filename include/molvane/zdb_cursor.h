/* Cursors of the record-level database API: a cursor works on one table in a
 * transaction, with a default company number and, optionally, bound program
 * variables that stand for the row. */
#ifndef MOLVANE_ZDB_CURSOR_H
#define MOLVANE_ZDB_CURSOR_H

#include <molvane/export.h>

MOLVANE_EXTERN_C_BEGIN

typedef struct ZDB_CURSOR ZDB_CURSOR;

/* One bound program variable, as the host describes it to zdb_open. */
typedef struct ZDB_HOST_BIND {
  void *address;         /* the variable; a null address is refused (503) */
  unsigned short length; /* size of a string variable (one element) */
  unsigned short depth;  /* number of array elements of the variable */
  char column[18];       /* tttttttt.cccccccc */
  unsigned short type;   /* the column type code of the variable (1 to 15) */
} ZDB_HOST_BIND;

/* Opens a cursor on a table in transaction trans_id. With count > 0, binds
 * points to count ZDB_HOST_BIND records; with count 0 it is the host's row
 * buffer. 0 and *cursor set, or -1 with zdb_errno: 215 no table name, 513 no
 * dictionary, 518 bad transaction, 501 memory, 503 null variable address,
 * 504 unknown column or a type pair that cannot be converted. */
MOLVANE_API int zdb_open(ZDB_CURSOR **cursor, const char *table, int compnr, void *binds,
                         int count, int trans_id);
/* Closes the cursor and its internal cursors; the handle is gone. 0 or -1. */
MOLVANE_API int zdb_close(ZDB_CURSOR *cursor);
/* Sets the company number used when an action passes 0xFFFF; -1 for a null
 * cursor or a number outside 0..999 (the old default stays). */
MOLVANE_API int zdb_set_default_compnr(ZDB_CURSOR *cursor, int compnr);
MOLVANE_API int zdb_get_default_compnr(ZDB_CURSOR *cursor);
/* Copies the bound variables into the row and returns the row; without
 * binds returns the host's row buffer given to zdb_open. */
MOLVANE_API unsigned char *zdb_bind_to_buf(ZDB_CURSOR *cursor, unsigned char *row);
/* Copies the row into the bound variables; 0. */
MOLVANE_API int zdb_buf_to_bind(ZDB_CURSOR *cursor, const unsigned char *row);

MOLVANE_EXTERN_C_END

#endif
