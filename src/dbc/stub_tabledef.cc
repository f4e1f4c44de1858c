// Stand-ins for the table definitions and the company mapping, until those
// parts land: no driver is specified, companies map to themselves.
#include "dbc/request_payloads.h"
#include "dbc/request_wire.h"
#include "dbc/stub_parts.h"

// Waits for the table definitions (specify_server keeps the driver list).
int specify_server(const char *) { return 0; }

// Waits for the company mapping: no mapping, an empty environment.
const char *compnrGetEnv() { return ""; }
COMPNR_MAP *compnrGetCompnrData(const char *) { return nullptr; }
int compnrLogicToPhysic(COMPNR_MAP *, int compnr) { return compnr; }

// Waits for table_in_driver of the table definitions: every table counts as
// served by the session's driver.
int dbc_table_in_session_driver(const char *, ZDB_SESSION *) { return 1; }

// Waits for the company mapping's SEND_COMPNR payload: an empty mapping.
int dbc_send_compnrs(STREAM *out) {
  if (wire_put_text(out, compnrGetEnv())) return -1;
  return wire_put_u32(out, 0);
}
