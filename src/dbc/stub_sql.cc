// Stand-ins for the SQL statement layer, until it lands: no statements.
#include "dbc/request_payloads.h"
#include "dbc/stub_parts.h"

// Waits for the classic SQL API (trace level from tt_sql_trace).
void init_qpc_debug(void) {}
// Waits for the statement pool: a session has no statements to close.
void SQLOnCloseSession(unsigned long) {}
int qpc_session_used(unsigned long) { return 0; }
