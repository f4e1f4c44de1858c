// The sql_* calls that the database client makes for its own statements
// (set reads and reference lookups), behind one table of functions so that
// another implementation of the classic SQL API can stand in for it.
#pragma once

#include <molvane/sql.h>

struct DBC_SQL_CALLS {
  sql_func (*init_func)(int number, sql_func function);
  QPCStatement *(*parse)(const char *text, unsigned long session, int flags);
  int (*wh_bind)(QPCStatement *handle, const char *name, int type, int length, void *value);
  int (*exec)(QPCStatement *handle, short compnr);
  int (*fetch)(QPCStatement *handle);
  int (*brk)(QPCStatement *handle);
  int (*close)(QPCStatement *handle);
};

// The table in use: the library's own sql_* functions unless replaced.
const DBC_SQL_CALLS &dbc_sql();
// Replaces the table (null puts the library's own back); returns the one
// that was in use.
const DBC_SQL_CALLS *dbc_set_sql_calls(const DBC_SQL_CALLS *calls);

// Installs host callbacks 1, 5 and 7 for the life of the object and puts the
// previous ones back when it ends, whatever the way out. A null function
// leaves its slot alone.
class DbcSqlCallbacks {
 public:
  DbcSqlCallbacks(sql_crt_extvar_func create, sql_put_extvar_func put,
                  sql_error_func error = nullptr);
  ~DbcSqlCallbacks();
  DbcSqlCallbacks(const DbcSqlCallbacks &) = delete;
  DbcSqlCallbacks &operator=(const DbcSqlCallbacks &) = delete;

 private:
  sql_func previous_[3] = {};
  bool installed_[3] = {};
};

struct DD_COLUMN;

// Binds one column value, read from `bytes` at the column's own width, to
// parameter `number` (its name in decimal): bytes and 2-byte integers as
// 32-bit integers, floats (float_out) and doubles as doubles, texts by
// address with the column length; raw bytes with `raw_type` (6 or 15).
// 0, -1 when the bind failed (zdb_errno), -2 for a column type that has no
// bind form.
int dbc_sql_bind_column(QPCStatement *handle, int number, const DD_COLUMN *column,
                        const unsigned char *bytes, int raw_type);
