// Stand-ins for the SQL statement layer and the network agent client, until
// they land: no statements, no packets.
#include "dbc/request_payloads.h"
#include "dbc/stub_parts.h"

// Waits for the classic SQL API (trace level from tt_sql_trace).
void init_qpc_debug(void) {}
// Waits for the statement pool: a session has no statements to close.
void SQLOnCloseSession(unsigned long) {}
int qpc_session_used(unsigned long) { return 0; }
// Waits for the network agent client: nothing buffered per session or driver.
int SQLNetAgentClientEndSession(ZDB_SESSION *) { return 0; }
void SQLNetAgentClientEndServer(ZDB_SERVER *) {}
// Waits for the network agent client: received packets are dropped.
int SQLNetAgentClientPacketsHandler(ZDB_REQUEST *) { return 0; }
