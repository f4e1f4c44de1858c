// DB roles and permissions: loading the user's roles at logon, the
// permission of a table or field for the current user, the check of an
// action before it leaves, and the PERMISSION payload for the drivers.
//
// A table is always asked for in two company numbers: the physical one (where
// the rows live) and the logical one (as the host named it). When they differ
// both must grant what is asked.
#pragma once

#include <cstddef>
#include <string>

#include "dbc/perm/roles_list.h"
#include "ipc/stream.h"

struct DD_TABLE;
struct DD_COLUMN;

// Table actions whose conditional entries count as "none" when asked without
// a row, and the buffered row actions the checks know.
enum : int {
  PERM_ACTION_INSERT = 101,
  PERM_ACTION_DELETE = 102,
  PERM_ACTION_UPDATE = 103
};

// Levels of the level keys: 1..4 field keys, 5..14 table keys, from the most
// specific (with condition, this company) to "*:*".
enum : int { PERM_FIRST_FIELD_LEVEL = 1, PERM_LAST_FIELD_LEVEL = 4,
             PERM_FIRST_TABLE_LEVEL = 5, PERM_LAST_TABLE_LEVEL = 14 };

// Loads the roles named in the user's settings and the roles they include
// (depth first, each once). 0, or -1: no roles named (208), a refused role
// name or a corrupt first line (217), memory (501). A missing role file skips
// its role; a corrupt permission line drops its role (217 left in zdb_errno)
// and loading goes on. A super user loads nothing.
int zdb_load_roles();
// What the last zdb_load_roles skipped because a role's file was missing:
// each role with the file looked for, as one text for the logon's warning;
// "" when nothing was skipped.
std::string zdb_roles_warning();
// Frees every DB role (for a new logon in the same process, and for tests).
void zdb_unload_roles();

// The level key of a name (table name, or table.field) for a company and
// level, in a module-wide buffer valid until the next key. Another level
// logs "Wrong level" and gives the name unchanged.
const char *convert_name_for_level(const char *name, int compnr, int level);
// The same into the caller's buffer; false when it does not fit.
bool perm_level_key(char *buf, size_t size, const char *name, int compnr, int level);

// The head of the chain of the level key, or null.
DB_PERM *dbc_get_perm_from_role(roleT *role, const char *name, int compnr, int level);

// The permission of a super user.
int srch_permission();
// True when the user bypasses every check.
bool perm_super_user();

// One role's permission for a table in one company. Without a row, the
// action decides what a conditional entry gives (1 for the table actions
// create, clear, drop, lock and alter, else 32).
int perm_role_table(roleT *role, const DD_TABLE *table, int compnr, const unsigned char *row,
                    int action);
// One role's permission for a field in one company; 64 when the role has no
// entry for the field.
int perm_role_field(roleT *role, const DD_TABLE *table, const DD_COLUMN *column, int compnr,
                    const unsigned char *row);

// The user's permission for a table: the highest over the roles, for the
// physical and the logical company, and the lower of the two when the numbers
// differ. 1 with no roles, 30 for a super user.
int perm_table_permission(const DD_TABLE *table, int logical, int physical,
                          const unsigned char *row);
// The user's permission for a field in the logical company; 64 when no role
// names it, 30 for a super user.
int perm_field_permission(const DD_TABLE *table, const DD_COLUMN *column, int logical,
                          const unsigned char *row);
// 0 when the user's roles allow the action on the table in both company
// numbers, else -1 with zdb_errno 208. The action is a table action (4, 5, 6,
// 7, 10) or a buffered row action (101 insert, 102 delete, 103 update); the
// row, when given, decides conditional entries.
int perm_action_allowed(const DD_TABLE *table, int logical, int physical, int action,
                        const unsigned char *row);
// The permission value an action needs, or 0 for an action no check knows.
int perm_action_threshold(int action);

// The check of an action before it leaves (perm_action_allowed for the
// internal cursor's table and company). 0 allowed, -1 refused with 208.
struct ZDB_INTERNAL_CURSOR;
int zdb_action_allowed(ZDB_INTERNAL_CURSOR *icursor, int action, const unsigned char *row);

// Writes the PERMISSION payload: the table entries of every role. 0, or -1
// when a write fails.
int dbc_send_roles(STREAM *out);
