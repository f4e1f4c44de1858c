// Permissions asked through cursors: the company of a cursor's internal
// cursor gives the logical and the physical company number that the checks
// over the roles need.
#include <cstdio>

#include <molvane/zdb_perm.h>

#include "dbc/dict/dd.h"
#include "dbc/perm/perm_roles.h"
#include "dbc/cursor/zdb_cursor.h"
#include "dbc/zdb_errors.h"
#include "dbc/session/zdb_trans.h"
#include "dbc/zdb_guard.h"

namespace {

constexpr int kDefaultCompnr = 0xFFFF;

const DD_TABLE *TableOf(const ZDB_INTERNAL_CURSOR *icursor) {
  if (icursor->tsession != nullptr && icursor->tsession->key != nullptr)
    return icursor->tsession->key->table;
  return icursor->cursor != nullptr ? icursor->cursor->table : nullptr;
}

// Writes the lines of every role that decide for the table in a company.
void dump_table_permission(const DD_TABLE *table, int compnr) {
  std::fprintf(stderr, "Permissions for table: %s\n", table->name);
  RPL_WALK walk;
  for (roleT *role = rpl_get_role(ROLE_TYPE_DB, 1, &walk); role != nullptr;
       role = rpl_get_role(ROLE_TYPE_DB, 2, &walk)) {
    for (int level = PERM_FIRST_TABLE_LEVEL; level <= PERM_LAST_TABLE_LEVEL; ++level) {
      for (const DB_PERM *e = dbc_get_perm_from_role(role, table->name, compnr, level);
           e != nullptr; e = e->next)
        std::fprintf(stderr, "  role %-10s level %2d  %-16s %2d%s%s\n", role->name, level, e->key,
                     e->value, e->condition_text != nullptr ? "  " : "",
                     e->condition_text != nullptr ? e->condition_text : "");
    }
  }
}

}  // namespace

int zdb_permission(ZDB_CURSOR *cursor, int compnr, const DD_COLUMN *field,
                   const unsigned char *row) {
  return zdb_api_call([&] {
    if (zdb_check_cursor(cursor, "zdb_permission") != 0) return -1;
    if (compnr == kDefaultCompnr) compnr = cursor->default_compnr;
    ZDB_INTERNAL_CURSOR *icursor = nullptr;
    if (zdb_get_internal_cursor(&icursor, cursor, compnr) != 0 || icursor == nullptr) return -1;
    const ZDB_COMPANY *company = icursor->company;
    if (field != nullptr)
      return perm_field_permission(cursor->table, field, company->logical, row);
    return perm_table_permission(cursor->table, company->logical, company->physical, row);
  });
}

int zdb_action_allowed(ZDB_INTERNAL_CURSOR *icursor, int action, const unsigned char *row) {
  const DD_TABLE *table = icursor != nullptr ? TableOf(icursor) : nullptr;
  if (table == nullptr || icursor->company == nullptr) {
    zdb_error(ZE_BAD_CURSOR);
    return -1;
  }
  return perm_action_allowed(table, icursor->company->logical, icursor->company->physical, action,
                             row);
}

void dump_zdb_permission(ZDB_CURSOR *cursor) {
  zdb_api_call([&] {
    if (zdb_check_cursor(cursor, "dump_zdb_permission") != 0) return -1;
    dump_table_permission(cursor->table, cursor->default_compnr);
    return 0;
  });
}
