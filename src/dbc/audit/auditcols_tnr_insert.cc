// Inserting the transaction-notification rows: a cursor on ttaud110 in the
// committing transaction whose ten binds point at one AUDIT_TNR_ROW, filled
// with each row in turn and inserted (db_insert, sent at once) in the row's
// company.
#include <cstdio>
#include <cstring>

#include <molvane/zdb_action.h>
#include <molvane/zdb_cursor.h>

#include "dbc/audit/auditcols.h"
#include "dbc/zdb_errors.h"
#include "dbc/session/zdb_trans.h"
#include "molvane/zdb.h"
#include "platform/log.h"

namespace {

constexpr const char *kKeyword = "audit_write_tnr";

int Fail() {
  zdb_errno = ZE_TNR_FAILED;
  return -1;
}

int InsertRow(ZDB_CURSOR *cursor, int compnr) { return zdb_exec_row(cursor, db_insert, 0, compnr); }

}  // namespace

int audit_tnr_insert(ZDB_TRANS *trans, const AUDIT_TNR_ROW *rows, int count, const int *compnrs) {
  AUDIT_TNR_ROW current{};
  ZDB_HOST_BIND binds[AUDIT_TNR_BINDS] = {};
  const AUDIT_TNR_BIND *desc = audit_tnr_binds();
  for (int i = 0; i < AUDIT_TNR_BINDS; ++i) {
    binds[i].address = reinterpret_cast<char *>(&current) + desc[i].offset;
    binds[i].length = desc[i].length;
    binds[i].depth = 1;
    std::snprintf(binds[i].column, sizeof binds[i].column, "%s", desc[i].column);
    binds[i].type = desc[i].host_type;
  }
  ZDB_CURSOR *cursor = nullptr;
  if (zdb_open(&cursor, "ttaud110", -1, binds, AUDIT_TNR_BINDS, trans->id) != 0) {
    log_mesg(__FILE__, __LINE__, kKeyword, 0,
             "Open ttaud110 failed\nCan't create transaction notification; ABORT");
    return Fail();
  }
  for (int i = 0; i < count; ++i) {
    current = rows[i];
    if (InsertRow(cursor, compnrs[i]) != 0) {
      zdb_close(cursor);
      log_mesg(__FILE__, __LINE__, kKeyword, 0,
               "Insert into ttaud110 compnr %03d failed\nCan't create transaction notification; ABORT",
               compnrs[i]);
      return Fail();
    }
  }
  zdb_close(cursor);
  return 0;
}
