// Stand-ins for set reads through generated SQL, until that part lands. A
// positioning read that needs a set read is refused openly (215, with a log
// line that names the action and the table), so that no caller ever takes a
// wrong row for the one it asked for.
#include <molvane/zdb.h>

#include "dbc/dd.h"
#include "dbc/stub_parts.h"
#include "dbc/zdb_cursor.h"
#include "dbc/zdb_errors.h"
#include "dbc/zdb_trans.h"
#include "platform/log.h"

int ssts_call(int mode, unsigned char *, int action, ZDB_INTERNAL_CURSOR *icursor) {
  if (mode != SSTS_READ) return 0;  // no set read is open to learn of a change
  const DD_TABLE *table = icursor->tsession->key->table;
  log_mesg(__FILE__, __LINE__, "Set read", 0,
           "%s on %.8s%03d (index %d) needs a set read, which this client does not serve",
           zdb_row_action(action), table->name, icursor->company->logical,
           icursor->company->index_nr);
  zdb_error(ZE_ILLEGAL_STATE);
  return -1;
}

void zdb_set_ssts_curr_info(ZDB_INTERNAL_CURSOR *, const unsigned char *) {}

int break_all_sql_handle(ZDB_INTERNAL_CURSOR *) { return 0; }
