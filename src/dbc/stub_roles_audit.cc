// Stand-ins for DB roles and audit columns, until those parts land: no
// roles (a super user needs none), no audit columns.
#include "dbc/request_payloads.h"
#include "dbc/request_wire.h"
#include "dbc/auditcols.h"
#include "dbc/stub_parts.h"

// Waits for the audit columns: no file read, not in use.
int audit_read_auditcols() { return 0; }
int audit_using_auditcols() { return 0; }
int auditcols_some_column_is_logged(const char *, int) { return 0; }

// Waits for the audit columns' AUDITCOLS payload: id 0 and no keys.
int audit_send_auditcols(STREAM *out) {
  if (wire_put_u32(out, 0)) return -1;
  return wire_put_u8(out, 0);
}
