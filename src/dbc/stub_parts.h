// Functions of parts of the database client and of the SQL layers that are
// not built yet, called here by their real names. Their bodies
// (stub_*.cc) do the least that lets logon, transactions and the request
// protocol work, and each says what it waits for. A part that lands brings
// its own header and removes its declarations and bodies from these files.
#pragma once

#include <cstdint>

// Driver attachment, sessions and cursors.
#include "dbc/zdb_attach.h"
#include "dbc/zdb_cursor.h"

struct ZDB_CURSOR;
struct ZDB_SESSION;
struct ZDB_SERVER;
struct ZDB_TRANS;
struct ZDB_TABLE_SESSION;

// SQL layers.
int SQLNetAgentClientEndSession(ZDB_SESSION *session);
void SQLNetAgentClientEndServer(ZDB_SERVER *server);

// Referential integrity: true when references are switched off for the
// library (zdb_disable_references).
bool dbc_references_disabled();
// The reference checks before and the reference work after a buffered row
// action of kind 101, 102 or 103 (old and new row may be null); the table
// handling of clear_table and drop_table: -1 failed, 0 go on with the
// request, 1 done. 0 or -1 unless said.
int zdb_reference_before(ZDB_INTERNAL_CURSOR *icursor, const unsigned char *old_row,
                         const unsigned char *new_row, int kind, std::uint32_t flags);
int zdb_reference_after(ZDB_INTERNAL_CURSOR *icursor, const unsigned char *old_row,
                        const unsigned char *new_row, int kind, std::uint32_t flags);
int reference_for_table_oper(ZDB_INTERNAL_CURSOR *icursor, int action, int mode);

// Set reads through generated SQL. Mode 1 reads (positioning reads other
// than an equality read on index 1), mode 2 tells the open set reads of a
// change; 0 or -1. The current row of an equality read is recorded for a
// later positioning read; break_all_sql_handle closes an internal cursor's
// set reads.
inline constexpr int SSTS_READ = 1;
inline constexpr int SSTS_CHANGED = 2;
int ssts_call(int mode, unsigned char *row, int action, ZDB_INTERNAL_CURSOR *icursor);
void zdb_set_ssts_curr_info(ZDB_INTERNAL_CURSOR *icursor, const unsigned char *row);
int break_all_sql_handle(ZDB_INTERNAL_CURSOR *icursor);
