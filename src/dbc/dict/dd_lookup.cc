// Table and column lookups by name. Columns are found by a binary search over
// the table's column array, which the loader sorts by column name.
#include <cstdio>
#include <cstring>
#include <new>

#include <molvane/zdb.h>

#include "dbc/dict/dd.h"
#include "dbc/dict/dd_load.h"
#include "dbc/dict/dd_state.h"
#include "dbc/zdb_errors.h"
#include "dbc/zdb_msg.h"
#include "platform/env.h"

using namespace molvane::dd;

DD_TABLE *dd_table_or_throw(const char *name) {
  if (!dd_table_name_ok(name)) return nullptr;
  DdState &st = State();
  if ((st.state & (DD_STATE_LOCAL | DD_STATE_GLOBAL)) == 0) {
    std::fputs("local_DD uninitialized (call init_local_dd)\n", stderr);
    return nullptr;
  }
  if (DD_TABLE_CACHE *c = FindTableCache(name, true)) {
    if (!c->loading) return c->table;
    // A table being parsed is visible to its own column lookups only; a
    // nested load that needs it fails instead of loading it again.
    return st.loading_tables.back() == c ? c->table : nullptr;
  }
  return LoadTable(name);
}

bool dd_ready_for(const char *call) {
  if ((State().state & (DD_STATE_LOCAL | DD_STATE_GLOBAL)) != 0) return true;
  zdb_errno = ZE_ILLEGAL_STATE;
  reset_zdb_msg();
  set_zdb_msg_logged(call, 0,
                     "zdb_init_api was not called: %s needs the data dictionary, which "
                     "zdb_init_api loads; call zdb_init_api first (then zdb_logon)",
                     call);
  return false;
}

std::string dd_dump_folder() {
  const char *folder = getvar("F_ZRDD");
  if (folder != nullptr && *folder != '\0') return folder;
  const char *zuv = get_zuv();
  return *zuv != '\0' ? std::string(zuv) + "/dict" : std::string();
}

DD_TABLE_CACHE *local_ddtable(const char *name) {
  if (name == nullptr || strnlen(name, 9) < 8 || name[8] == '.') return nullptr;
  return FindTableCache(name, false);
}

DD_TABLE *ddtable_local(const char *name) {
  DD_TABLE_CACHE *c = local_ddtable(name);
  return c ? c->table : nullptr;
}

DD_COLUMN *ddcolumn_by_ddtable(const DD_TABLE *table, const char *column_name) {
  if (table == nullptr || column_name == nullptr || table->columns == nullptr) return nullptr;
  int lo = 0;
  int hi = table->column_count - 1;
  while (lo <= hi) {
    const int mid = lo + (hi - lo) / 2;
    DD_COLUMN *c = &table->columns[mid];
    const int cmp = CompareColumnNames(column_name, c->name + 9);
    if (cmp == 0) return c;
    if (cmp < 0)
      hi = mid - 1;
    else
      lo = mid + 1;
  }
  return nullptr;
}

DD_COLUMN *dd_column_or_throw(const char *full_name) {
  if (full_name == nullptr) return nullptr;
  const size_t len = strnlen(full_name, 18);
  if (len <= 8 || full_name[8] != '.') return nullptr;
  if (!check_syntax_column_name(full_name + 9)) return nullptr;
  char table_name[9];
  std::memcpy(table_name, full_name, 8);
  table_name[8] = '\0';
  return ddcolumn_by_ddtable(dd_table_or_throw(table_name), full_name + 9);
}

DD_TABLE *ddtable(const char *name) {
  if (!dd_ready_for("ddtable")) return nullptr;
  try {
    return dd_table_or_throw(name);
  } catch (const std::bad_alloc &) {
    zdb_errno = ZE_MEMORY;
    return nullptr;
  }
}

DD_COLUMN *ddcolumn(const char *full_name) {
  if (!dd_ready_for("ddcolumn")) return nullptr;
  try {
    return dd_column_or_throw(full_name);
  } catch (const std::bad_alloc &) {
    zdb_errno = ZE_MEMORY;
    return nullptr;
  }
}

DD_TABLE *ddtable_from_columnname(const char *full_name) {
  if (full_name == nullptr || strnlen(full_name, 8) < 8) return nullptr;
  char table_name[9];
  std::memcpy(table_name, full_name, 8);
  table_name[8] = '\0';
  return dd_table_or_throw(table_name);
}
