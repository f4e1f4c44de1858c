// The classic SQL API's functions for code linked with the library (not
// exported), and its entry points for the database client.
#pragma once

#include <cstdint>

#include <molvane/sql.h>

// Like sql_fetch, but skips up to `count` rows without delivering them;
// *skipped receives the number skipped. -1 with 111 or 110 when the end
// came first.
int sql_skip_rows(QPCStatement *handle, int count, int *skipped);
// Parameter count, or -1.
int sql_get_num_parameters(QPCStatement *handle);
int sql_get_parameter_name(QPCStatement *handle, int index, const char **name);
// Result column count, or -1.
int sql_get_num_resultcols(QPCStatement *handle);
// The text of the statement's last prepare, or null.
const char *sql_get_statement_text(QPCStatement *handle);
// *derived is 1 when the system named the item.
int sql_get_select_target(QPCStatement *handle, int index, const char **name, int *derived);
// The statement's id, and the id of the statement whose prepare made its
// prepared data.
int sql_get_stmt_id(QPCStatement *handle, unsigned long *id, unsigned long *originalId);

// What sql_parse asks of the database client before it parses: 0 when the
// session (a transaction id) may be used, else -1 with zdb_errno and the
// message set. The default is the database client's own check
// (zdb_check_trans_id); a test of the statement layer alone puts one in its
// place. Null puts the default back; returns the one that was in use.
using QPCSessionCheck = int (*)(unsigned long session);
QPCSessionCheck QPCSetSessionCheck(QPCSessionCheck check);

// A database session ends: its statements are closed (their handles stay
// valid) and the text reader leaves it.
void SQLOnCloseSession(unsigned long sessionId);
// 1 while the session has prepared statements, else 0.
int qpc_session_used(unsigned long sessionId);

// The trace level of the API (init_qpc_debug); the update flush of the
// database client reads it too.
extern int QP_DBG;
