// The children of a reference, found with generated SQL: the restricting
// lookup, the cascade delete, and the key update or nullify of the rows that
// reference a parent row.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <molvane/zdb.h>
#include <molvane/zdb_dlock.h>

#include "dbc/dict/dd.h"
#include "dbc/dlock/dlock.h"
#include "dbc/refs/refs.h"
#include "dbc/setread/row_target.h"
#include "dbc/setread/sql_calls.h"
#include "dbc/actions/zdb_actions.h"
#include "dbc/cursor/zdb_cursor.h"
#include "dbc/zdb_errors.h"
#include "dbc/session/zdb_server.h"
#include "dbc/session/zdb_trans.h"
#include "platform/log.h"

extern "C" int zdb_errno;

namespace {

constexpr int kDebugRefs = 8;

const DD_TABLE *table_of(const ZDB_INTERNAL_CURSOR *ic) { return ic->tsession->key->table; }

int ref_sql_error(int line, char *text) {
  if ((dbc_state().debug & kDebugRefs) && text != nullptr)
    std::fprintf(stderr, "Reference SQL (line %d): %s\n", line, text);
  return 0;
}

std::string select_text(const DD_TABLE *child, const std::vector<DD_COLUMN *> &key_columns,
                        int operation, bool *ok) {
  const std::string t(child->name, strnlen(child->name, 8));
  std::string s;
  if (operation == 1) {
    const DD_KEY *key = key_desc(child, 1);
    std::vector<DD_COLUMN *> first = key != nullptr && key->parts != nullptr
                                         ? dbc_columns_of(key->parts[0])
                                         : std::vector<DD_COLUMN *>{};
    if (first.empty()) {
      log_mesg(__FILE__, __LINE__, "Keydesc", 0, "Key description failed");
      zdb_error(ZE_ILLEGAL_STATE);
      *ok = false;
      return {};
    }
    s = std::string("SELECT ") + first[0]->name;
  } else {
    s = "SELECT FOR UPDATE " + t + ".*";
  }
  s += " FROM " + t + " ";
  s += " WHERE ";
  for (std::size_t i = 0; i < key_columns.size(); ++i)
    s += (i == 0 ? std::string("{ ") : std::string(" ,")) + key_columns[i]->name;
  s += " }";
  s += " = {";
  for (std::size_t i = 0; i < key_columns.size(); ++i)
    s += i == 0 ? std::string(" :1") : " ,:" + std::to_string(i + 1);
  s += " }";
  if (operation == 1) s += " AS SET WITH 1 ROWS ";
  *ok = true;
  return s;
}

// Runs the statement's rows through the operation; the count of rows, or -1.
int work_on_rows(QPCStatement *statement, ZDB_INTERNAL_CURSOR *child, unsigned char *row,
                 const unsigned char *new_key, const std::vector<DD_COLUMN *> &key_columns,
                 int operation, std::uint32_t flags) {
  const DD_TABLE *table = table_of(child);
  int count = 0;
  for (;;) {
    if (dbc_sql().fetch(statement) != 0) {
      if (zdb_errno == ZE_END_OF_FILE || zdb_errno == ZE_NO_RECORD || zdb_errno == 0) {
        zdb_errno = 0;
        return count;
      }
      return -1;
    }
    if (operation == 1) {
      zdb_error(ZE_REF_STILL_REFERENCED);
      return -1;
    }
    int id = dbc_put_dlock_row(child, row);
    if (id < 0) return -1;
    put_dlock_in_row(table, row, id);
    int action = db_delete_51;
    if (operation == 3) {
      std::vector<DD_COLUMN *> list(key_columns);
      list.push_back(nullptr);
      zdb_fill_cols(row, new_key, list.data());
      action = db_update_51;
    }
    // The row action may run statements of its own: each fills its own row.
    std::vector<unsigned char> copy(row, row + table->row_length);
    if (zdb_exec_row_1(child, copy.data(), action, flags) != 0) return -1;
    ++count;
  }
}

}  // namespace

int refer_func(ZDB_INTERNAL_CURSOR *child, const unsigned char *old_key,
               const unsigned char *new_key, const std::vector<DD_COLUMN *> &key_columns,
               int operation, std::uint32_t flags) {
  const DD_TABLE *table = table_of(child);
  bool ok = false;
  std::string text = select_text(table, key_columns, operation, &ok);
  if (!ok) return -1;
  ZDB_TRANS *trans = child->tsession->session->trans;
  unsigned long id = trans != nullptr ? static_cast<unsigned long>(trans->id) : 0;
  std::vector<unsigned char> row(static_cast<std::size_t>(table->row_length) + 1, 0);
  DbcSqlCallbacks callbacks(dbc_row_create_extvar, dbc_row_put_extvar, ref_sql_error);
  DbcRowTarget target(row.data(), table);
  QPCStatement *statement = dbc_sql().parse(text.c_str(), id, 0);
  if (statement == nullptr) {
    log_mesg(__FILE__, __LINE__, "Sql_parse", 0, "Sql_parse returns error: %d", zdb_errno);
    return -1;
  }
  int result = 0;
  const unsigned char *value = old_key;
  int number = 1;
  for (const DD_COLUMN *c : key_columns) {
    int rc = dbc_sql_bind_column(statement, number, c, value, SQL_TYPE_RAW);
    if (rc != 0) {
      if (rc == -2) std::fprintf(stderr, "Illegal zdb_type : %d", c->type);
      log_mesg(__FILE__, __LINE__, "Bind_variable", 0, "Binding of variable %d failed", number);
      if (zdb_errno == 0) zdb_error(ZE_ILLEGAL_STATE);
      result = -1;
      break;
    }
    value += c->length;
    ++number;
  }
  if (result == 0 && dbc_sql().exec(statement, static_cast<short>(child->company->logical)) != 0) {
    if (zdb_errno != ZE_BUFFERED_UPDATE)
      log_mesg(__FILE__, __LINE__, "Sql_exec", 0, "Sql_exec returns error: %d", zdb_errno);
    result = -1;
  }
  if (result == 0) result = work_on_rows(statement, child, row.data(), new_key, key_columns,
                                         operation, flags);
  int error = zdb_errno;
  dbc_sql().close(statement);
  if (error != 0 && zdb_errno == 0) zdb_errno = error;
  return result;
}
