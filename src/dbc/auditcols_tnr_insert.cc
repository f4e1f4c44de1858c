// Inserting the transaction-notification rows needs cursors and row actions
// (zdb_open with the binds of audit_tnr_binds, zdb_exec_row with db_insert
// per row in its company, zdb_close). Until the client has them, the insert
// fails openly: the commit that needs it is refused with 254 rather than
// reported as done without its rows.
#include "dbc/auditcols.h"
#include "dbc/zdb_errors.h"
#include "molvane/zdb.h"
#include "platform/log.h"

int audit_tnr_insert(ZDB_TRANS *, const AUDIT_TNR_ROW *, int, const int *) {
  log_mesg(__FILE__, __LINE__, "audit_write_tnr", 0,
           "Open ttaud110 failed\nCan't create transaction notification; ABORT");
  zdb_errno = ZE_TNR_FAILED;
  return -1;
}
