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

// A database session ends: its statements are closed (their handles stay
// valid) and the text reader leaves it.
void SQLOnCloseSession(unsigned long sessionId);
// 1 while the session has prepared statements, else 0.
int qpc_session_used(unsigned long sessionId);

// The trace level of the API (init_qpc_debug); the update flush of the
// database client reads it too.
extern int QP_DBG;
