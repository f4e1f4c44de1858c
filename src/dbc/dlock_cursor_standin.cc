// Stand-ins for the calls the delayed locks make into cursors and table
// sessions, until those records exist. No table session exists yet, so no
// internal cursor leads to a store: the calls by cursor fail with 509, and
// there is no cursor lock state to clear. The cursor module brings the real
// bodies and removes this file.
#include "dbc/dlock.h"
#include "dbc/zdb_errors.h"
#include "dbc/zdb_trans.h"

ZDB_DLOCK *dbc_icursor_dlock(ZDB_INTERNAL_CURSOR *) { return nullptr; }
ZDB_DLOCK *dbc_table_session_dlock(ZDB_TABLE_SESSION *) { return nullptr; }

int get_compnr_from_bind(ZDB_CURSOR *) { return 0xFFFF; }
int zdb_compnr_from_cursor(ZDB_CURSOR *) { return -1; }
const char *get_table_name_from_maincursor(ZDB_CURSOR *) { return "<Unknown table name>"; }

int zdb_get_internal_cursor(ZDB_INTERNAL_CURSOR **result, ZDB_CURSOR *, int) {
  if (result != nullptr) *result = nullptr;
  zdb_error(ZE_BAD_CURSOR);
  return -1;
}

int release_session_locks(ZDB_SESSION *, int) { return 0; }
