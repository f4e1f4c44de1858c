// Functions of parts of the database client and of the SQL layers that are
// not built yet, called here by their real names. Their bodies
// (stub_*.cc) do the least that lets logon, transactions and the request
// protocol work, and each says what it waits for. A part that lands brings
// its own header and removes its declarations and bodies from these files.
#pragma once

#include <cstdint>

struct ZDB_CURSOR;
struct ZDB_SESSION;
struct ZDB_SERVER;
struct ZDB_TRANS;
struct ZDB_TABLE_SESSION;

// Driver attachment, sessions and cursors.
int zdb_detach_server(ZDB_SERVER *server);
int zdb_detach_session(ZDB_SESSION *session);
int zdb_close(ZDB_CURSOR *cursor);
// Closes the internal cursors still open on a session's table sessions and
// frees the table sessions with their delayed locks; 0 or -1.
int dbc_release_table_sessions(ZDB_SESSION *session);
// True when a table session of the session still has an open internal cursor.
bool dbc_session_has_open_cursor(ZDB_SESSION *session);

// Transaction actions.
int zdb_exec_transaction(int code, const char *text, int length, int id);

// SQL layers.
void init_qpc_debug(void);
void SQLOnCloseSession(unsigned long session_id);
int qpc_session_used(unsigned long session_id);
int SQLNetAgentClientEndSession(ZDB_SESSION *session);
void SQLNetAgentClientEndServer(ZDB_SERVER *server);

// Writes the driver/session tree to standard error under a title.
void zdb_dump_server_tree(const char *title);

// Referential integrity: true when references are switched off for the
// library (zdb_disable_references).
bool dbc_references_disabled();
