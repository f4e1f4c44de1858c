// The classic SQL API's entry points for the database client: the end of a
// session, the scheduler's question whether a session is in use, and the
// trace level read at logon.
#include <cstdio>

#include "sql/exec/text_reader.h"
#include "sql/statement/sql_api_internal.h"
#include "sql/statement/sql_resource.h"
#include "sql/statement/statement.h"

int QP_DBG = 0;

void SQLOnCloseSession(unsigned long sessionId) {
  // The database client's session stop cannot take an exception: whatever
  // fails here leaves the session closed all the same.
  try {
    SQLStatement::CloseSessionStatements(sessionId);
  } catch (...) {
  }
  try {
    SQLTextReader::Instance()->DetachFromSession(sessionId);
  } catch (...) {
  }
}

int qpc_session_used(unsigned long sessionId) {
  return SQLStatement::SessionHasStatements(sessionId) ? 1 : 0;
}

extern "C" void init_qpc_debug(void) {
  if (QP_DBG != 0) return;
  long level = SQLResource::tt_sql_trace();
  if (level < 1) return;
  QP_DBG = static_cast<int>(level & ~0x100L);
  if (QP_DBG != 0) std::fprintf(stderr, "Tracing on: TT_SQL_TRACE = %#o\n", QP_DBG);
}
