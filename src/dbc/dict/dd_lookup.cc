// Table and column lookups by name. Columns are found by a binary search over
// the table's column array, which the loader sorts by column name.
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

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

void dd_name_missing_table(const char *name) {
  zdb_errno = ZE_NO_DD;
  // A name that is no table name at all is named as given and said why,
  // not looked for as the dump of its first eight characters.
  if (!dd_table_name_ok(name)) {
    const std::size_t length = std::strlen(name);
    if (length != 8)
      set_zdb_msg_logged(nullptr, 0,
                         "Table %s not found in data dictionary: a table name has 8 characters "
                         "(such as \"mybok010\"), this one %zu",
                         name, length);
    else
      set_zdb_msg_logged(nullptr, 0,
                         "Table %s not found in data dictionary: a table name has only letters, "
                         "digits and \"_\" (such as \"mybok010\")",
                         name);
    return;
  }
  std::string folder = dd_dump_folder();
  const char *where = folder.empty() ? "any folder: neither ZUV nor F_ZRDD is set" : folder.c_str();
  if ((State().state & DD_MODE_NEW) != 0) {
    set_zdb_msg_logged(nullptr, 0,
                       "Table %s not found in data dictionary (no dump d%s.new in %s; the dictionary "
                       "mode (init_dd_mode 3) reads the .new dumps)",
                       name, name, where);
    return;
  }
  set_zdb_msg_logged(nullptr, 0, "Table %s not found in data dictionary (no dump d%s in %s)", name,
                     name, where);
}

namespace {

// The table of an exported lookup, or null with zdb_errno and the message
// of the call: 513 naming the table (and the folder looked in) for a table
// the dictionary lacks, else the loader's number (512 with its words for a
// dump that does not load, 501). Throws std::bad_alloc.
DD_TABLE *TableOrMessage(const char *name) {
  const int before = zdb_errno;
  zdb_errno = 0;
  DD_TABLE *table = dd_table_or_throw(name);
  if (table != nullptr) {
    zdb_errno = before;
  } else if (zdb_errno == 0 || zdb_errno == DD_ERR_NO_DD) {
    dd_name_missing_table(name);
  }
  return table;
}

// The names of a table's columns but the system columns ("_index1", ...),
// at most `most` of them, for a message that says which columns there are.
std::string ColumnNames(const DD_TABLE *table, int most) {
  std::string names;
  int listed = 0;
  for (int i = 0; i < table->column_count; ++i) {
    const char *column = table->columns[i].name + 9;
    if (column[0] == '_') continue;
    if (listed++ == most) return names + ", ...";
    names += std::string(names.empty() ? "" : ", ") + column;
  }
  return names;
}

void NoMemoryFor(const char *call, const char *name) {
  zdb_errno = ZE_MEMORY;
  set_zdb_msg_logged(nullptr, 0, "Memory ran out while %s loaded the dictionary of %.8s; try again",
                     call, name);
}

}  // namespace

DD_TABLE *ddtable(const char *name) {
  ZdbCallScope call;
  if (!dd_ready_for("ddtable")) return nullptr;
  if (name == nullptr) {
    zdb_errno = ZE_ILLEGAL_STATE;
    set_zdb_msg_logged(nullptr, 0,
                       "No table-name specified: ddtable was given a null table name; pass the name "
                       "of a table of the data dictionary (8 characters, such as \"mybok010\")");
    return nullptr;
  }
  try {
    return TableOrMessage(name);
  } catch (const std::bad_alloc &) {
    NoMemoryFor("ddtable", name);
    return nullptr;
  }
}

DD_COLUMN *ddcolumn(const char *full_name) {
  ZdbCallScope call;
  if (!dd_ready_for("ddcolumn")) return nullptr;
  if (full_name == nullptr) {
    zdb_errno = ZE_ILLEGAL_STATE;
    set_zdb_msg_logged(nullptr, 0,
                       "No column name specified: ddcolumn was given a null column name; pass a "
                       "column's full name (such as \"mybok010.title\")");
    return nullptr;
  }
  const size_t length = strnlen(full_name, 18);
  if (length <= 8 || full_name[8] != '.') {
    zdb_errno = ZE_BAD_COLUMN;
    set_zdb_msg_logged(nullptr, 0,
                       "Invalid column '%s': ddcolumn takes a column's full name, its table's 8 "
                       "characters, a point and the column (such as \"mybok010.title\")",
                       full_name);
    return nullptr;
  }
  if (!check_syntax_column_name(full_name + 9)) {
    zdb_errno = ZE_BAD_COLUMN;
    set_zdb_msg_logged(nullptr, 0,
                       "Invalid column '%s': a column name has 2 to 8 characters, a letter or \"_\" "
                       "first, then letters, digits, points or \"_\"",
                       full_name);
    return nullptr;
  }
  char table_name[9];
  std::memcpy(table_name, full_name, 8);
  table_name[8] = '\0';
  try {
    const DD_TABLE *table = TableOrMessage(table_name);
    if (table == nullptr) return nullptr;
    DD_COLUMN *column = ddcolumn_by_ddtable(table, full_name + 9);
    if (column == nullptr) {
      zdb_errno = ZE_BAD_COLUMN;
      set_zdb_msg_logged(nullptr, 0, "Invalid column '%s': %s has no column %s (its columns: %s)",
                         full_name, table_name, full_name + 9, ColumnNames(table, 40).c_str());
    }
    return column;
  } catch (const std::bad_alloc &) {
    NoMemoryFor("ddcolumn", table_name);
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
