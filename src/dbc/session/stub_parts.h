// Functions of parts of the database client and of the SQL layers that are
// not built yet, called here by their real names. Their bodies
// (stub_*.cc) do the least that lets logon, transactions and the request
// protocol work, and each says what it waits for. A part that lands brings
// its own header and removes its declarations and bodies from these files.
#pragma once

#include <cstdint>

// Driver attachment, sessions and cursors.
#include "dbc/session/zdb_attach.h"
#include "dbc/cursor/zdb_cursor.h"

struct ZDB_CURSOR;
struct ZDB_SESSION;
struct ZDB_SERVER;
struct ZDB_TRANS;
struct ZDB_TABLE_SESSION;

// SQL layers.
int SQLNetAgentClientEndSession(ZDB_SESSION *session);
void SQLNetAgentClientEndServer(ZDB_SERVER *server);
