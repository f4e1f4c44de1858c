// Permission checks over the loaded DB roles. A role answers for a table by
// looking up its level keys from the most specific (this table, this company,
// with a row condition) to the least ("*:*"); the first level it has decides.
// The roles together give the highest value any of them grants.
//
// Row conditions are range expressions whose names are the table's columns;
// the expression engine asks the get callback below for each name, which
// reads the value from the row image being checked.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "dbc/dict/dd.h"
#include "dbc/perm/perm_cell.h"
#include "dbc/perm/perm_roles.h"
#include "dbc/zdb_errors.h"
#include "dbc/zdb_msg.h"
#include "dbc/session/zdb_trans.h"
#include "molvane/zdb.h"
#include "platform/log.h"
#include "platform/yy_expr.h"

namespace {

constexpr int kDebugPermValues = 64;
constexpr size_t kKeySize = 64;

char g_key[kKeySize];

// What the get callback reads from: the table and row of the condition being
// evaluated. Saved and restored around each evaluation so that an evaluation
// inside a callback cannot disturb an outer one.
struct ConditionContext {
  const DD_TABLE *table = nullptr;
  const unsigned char *row = nullptr;
  std::string text;  // a string value, kept until the engine copies it
};
ConditionContext *g_context = nullptr;

// Fills a cell with the first element of a column's value in the row.
void ColumnValue(const DD_COLUMN *column, const unsigned char *row, YY_VALUE *cell,
                 std::string *text) {
  perm_column_cell(column->type, column->length, column->depth, row + column->offset, cell, text);
}

void GetColumn(const char *name, YY_VALUE *cell) {
  ConditionContext *ctx = g_context;
  if (ctx == nullptr || ctx->table == nullptr || ctx->row == nullptr) return;
  // A name is a column of the table, written alone or with the table's name.
  char full[64];
  int n = std::strchr(name, '.') != nullptr
              ? std::snprintf(full, sizeof full, "%s", name)
              : std::snprintf(full, sizeof full, "%s.%s", ctx->table->name, name);
  DD_COLUMN *column = n > 0 && static_cast<size_t>(n) < sizeof full ? dd_column_or_throw(full) : nullptr;
  if (column == nullptr || std::strncmp(column->name, ctx->table->name, 8) != 0) {
    log_mesg(__FILE__, __LINE__, "Check condition", 0, "Unknown column %s (table %s)", name,
             ctx->table->name);
    return;
  }
  if (column->type == DDT_RAW) {
    log_mesg(__FILE__, __LINE__, "Check condition ", 0,
             "Permissions not allowed on columns of type RAW. Permission Ignored. (table %s).",
             ctx->table->name);
    return;
  }
  ColumnValue(column, ctx->row, cell, &ctx->text);
}

// True when the entry's condition holds for the row.
bool ConditionHolds(const DB_PERM *entry, const DD_TABLE *table, const unsigned char *row) {
  ConditionContext ctx;
  ctx.table = table;
  ctx.row = row;
  ConditionContext *outer = g_context;
  yy_setid_fn old_set = nullptr;
  yy_getid_fn old_get = nullptr;
  yy_get_setid_getid(&old_set, &old_get);
  g_context = &ctx;
  yy_set_setid_getid(nullptr, GetColumn);

  int result;
  const DD_COLUMN *field = entry->column;
  if (field != nullptr && field->type != DDT_RAW && field->type != DDT_COMBINED) {
    // A field's own value is the value under test of its condition.
    YY_VALUE cell{};
    std::string text;
    ColumnValue(field, row, &cell, &text);
    if (cell.kind == YY_INTEGER) {
      result = yy_b_express(entry->condition, YY_INTEGER, &cell.ival);
    } else if (cell.kind == YY_REAL) {
      result = yy_b_express(entry->condition, YY_REAL, &cell.rval);
    } else if (cell.kind == YY_STRING) {
      result = yy_b_express(entry->condition, YY_STRING, text.c_str());
    } else {
      result = yy_b_express(entry->condition, YY_NONE, nullptr);
    }
  } else {
    result = yy_b_express(entry->condition, YY_NONE, nullptr);
  }

  yy_set_setid_getid(old_set, old_get);
  g_context = outer;
  return result != 0;
}

// The value of one key's chain for a row (null: no row).
int EvalChain(const DB_PERM *head, const DD_TABLE *table, const unsigned char *row) {
  if (head->condition == nullptr) return head->value;
  if (row == nullptr) return PERM_NEEDS_ROW;
  int best = PERM_NO_MATCH;
  for (const DB_PERM *e = head; e != nullptr; e = e->next) {
    if (e->condition == nullptr || e->value <= best) continue;
    if (ConditionHolds(e, table, row)) {
      best = e->value;
      if (best >= PERM_DELETE) break;
    }
  }
  return best;
}

bool IsTableAction(int action) {
  return action == create_table || action == clear_table || action == drop_table ||
         action == lock_table || action == alter_table;
}

int DebugWord() { return dbc_state().debug; }

// What the roles give for one table in one company, derived once from the
// role lists and kept until they change (rpl_generation), so that a check
// costs one lookup whatever the number of roles. Only roles whose entry
// for the table has a row condition are walked, and only with a row.
struct TableRights {
  bool haveRoles = false;
  // Without a row, per kind of action (0 other, 1 table action): the walk of
  // MaxOverRoles, which stops at the first role reaching 16, and the
  // highest value of any role (which perm_action_allowed compares).
  int noRowWalk[2] = {0, 0};
  int noRowMax[2] = {0, 0};
  // With a row: the highest value of the roles that need none.
  int fixedMax = 0;
  // The roles whose first entry has a condition: their level heads in level
  // order, through the first one without a condition.
  std::vector<std::vector<const DB_PERM *>> conditional;
  // The highest value any line of `conditional` gives: an action that needs
  // more is refused whatever the row.
  int conditionalBest = 0;
};

// One role's level heads for the table, from the first level it names,
// through the first head without a condition.
std::vector<const DB_PERM *> RoleHeads(roleT *role, const DD_TABLE *table, int compnr) {
  std::vector<const DB_PERM *> heads;
  for (int level = PERM_FIRST_TABLE_LEVEL; level <= PERM_LAST_TABLE_LEVEL; ++level) {
    const DB_PERM *head = dbc_get_perm_from_role(role, table->name, compnr, level);
    if (head == nullptr) continue;
    heads.push_back(head);
    if (head->condition == nullptr) break;
  }
  return heads;
}

TableRights Compile(const DD_TABLE *table, int compnr) {
  TableRights rights;
  RPL_WALK walk;
  bool stopped[2] = {false, false};
  for (roleT *role = rpl_get_role(ROLE_TYPE_DB, 1, &walk); role != nullptr;
       role = rpl_get_role(ROLE_TYPE_DB, 2, &walk)) {
    rights.haveRoles = true;
    std::vector<const DB_PERM *> heads = RoleHeads(role, table, compnr);
    for (int tableAction = 0; tableAction < 2; ++tableAction) {
      // perm_role_table without a row.
      int value = PERM_NONE;
      if (!heads.empty())
        value = heads[0]->condition == nullptr ? int{heads[0]->value} : tableAction ? int{PERM_NONE} : int{PERM_NEEDS_ROW};
      rights.noRowMax[tableAction] = std::max(rights.noRowMax[tableAction], value);
      if (!stopped[tableAction]) {
        rights.noRowWalk[tableAction] = std::max(rights.noRowWalk[tableAction], value);
        stopped[tableAction] = rights.noRowWalk[tableAction] >= PERM_DELETE;
      }
    }
    if (heads.empty())
      rights.fixedMax = std::max(rights.fixedMax, static_cast<int>(PERM_NONE));
    else if (heads[0]->condition == nullptr)
      rights.fixedMax = std::max(rights.fixedMax, static_cast<int>(heads[0]->value));
    else {
      for (const DB_PERM *head : heads)
        for (const DB_PERM *e = head; e != nullptr; e = e->next)
          rights.conditionalBest = std::max(rights.conditionalBest, static_cast<int>(e->value));
      rights.conditional.push_back(std::move(heads));
    }
  }
  return rights;
}

// The compiled rights of the table in the company.
const TableRights &RightsOf(const DD_TABLE *table, int compnr) {
  struct Key {
    char name[sizeof table->name];
    int compnr;
    bool operator==(Key const &o) const {
      return compnr == o.compnr && std::memcmp(name, o.name, sizeof name) == 0;
    }
  };
  struct KeyHash {
    size_t operator()(Key const &k) const {
      uint64_t h = static_cast<uint64_t>(k.compnr);
      for (char c : k.name) h = h * 131 + static_cast<unsigned char>(c);
      return static_cast<size_t>(h * 0x9E3779B97F4A7C15ULL >> 17);
    }
  };
  static std::unordered_map<Key, TableRights, KeyHash> cache;
  static uint64_t generation = ~uint64_t{0};
  static Key lastKey{};
  static const TableRights *last = nullptr;

  Key key{};
  std::memcpy(key.name, table->name, strnlen(table->name, sizeof key.name - 1));
  key.compnr = compnr;
  if (generation != rpl_generation()) {
    cache.clear();
    last = nullptr;
    generation = rpl_generation();
  }
  if (last != nullptr && key == lastKey) return *last;
  auto found = cache.find(key);
  if (found == cache.end()) found = cache.emplace(key, Compile(table, compnr)).first;
  lastKey = key;
  last = &found->second;
  return *last;
}

// The highest value a role with a row condition gives for the row.
int ConditionalMax(const TableRights &rights, const DD_TABLE *table, const unsigned char *row, int best) {
  for (const std::vector<const DB_PERM *> &heads : rights.conditional) {
    if (best >= PERM_DELETE) break;
    int value = PERM_NONE;
    for (const DB_PERM *head : heads) {
      int v = EvalChain(head, table, row);
      if (v != PERM_NO_MATCH) {
        value = v;
        break;
      }
    }
    best = std::max(best, value);
  }
  return best;
}

// The highest value the roles give for one company; stops at 16.
int MaxOverRoles(const DD_TABLE *table, int compnr, const unsigned char *row, int action) {
  const TableRights &rights = RightsOf(table, compnr);
  if (row == nullptr) return rights.noRowWalk[IsTableAction(action) ? 1 : 0];
  // With a row no role gives more than 16: the walk's stop changes nothing.
  return ConditionalMax(rights, table, row, rights.fixedMax);
}

// The highest value any role gives for one company (no early stop).
int HighestOverRoles(const DD_TABLE *table, int compnr, const unsigned char *row, int action) {
  const TableRights &rights = RightsOf(table, compnr);
  if (row == nullptr) return rights.noRowMax[IsTableAction(action) ? 1 : 0];
  return ConditionalMax(rights, table, row, rights.fixedMax);
}

bool HaveRoles() {
  RPL_WALK walk;
  return rpl_get_role(ROLE_TYPE_DB, 1, &walk) != nullptr;
}

}  // namespace

bool perm_level_key(char *buf, size_t size, const char *name, int compnr, int level) {
  int n;
  switch (level) {
    case 1:
    case 5:
      n = std::snprintf(buf, size, "%s:%03dc", name, compnr);
      break;
    case 2:
    case 6:
      n = std::snprintf(buf, size, "%s:*c", name);
      break;
    case 3:
    case 7:
      n = std::snprintf(buf, size, "%s:%03d", name, compnr);
      break;
    case 4:
    case 8:
      n = std::snprintf(buf, size, "%s:*", name);
      break;
    case 9:
      n = std::snprintf(buf, size, "%.*s:%03d", 5, name, compnr);
      break;
    case 10:
      n = std::snprintf(buf, size, "%.*s:*", 5, name);
      break;
    case 11:
      n = std::snprintf(buf, size, "%.*s:%03d", 2, name, compnr);
      break;
    case 12:
      n = std::snprintf(buf, size, "%.*s:*", 2, name);
      break;
    case 13:
      n = std::snprintf(buf, size, "*:%03d", compnr);
      break;
    case 14:
      n = std::snprintf(buf, size, "*:*");
      break;
    default:
      log_mesg(__FILE__, __LINE__, "convert_name_for_level", 0, "Wrong level ('%d') specified",
               level);
      n = std::snprintf(buf, size, "%s", name);
      break;
  }
  return n >= 0 && static_cast<size_t>(n) < size;
}

const char *convert_name_for_level(const char *name, int compnr, int level) {
  if (!perm_level_key(g_key, sizeof g_key, name, compnr, level)) g_key[0] = '\0';
  return g_key;
}

DB_PERM *dbc_get_perm_from_role(roleT *role, const char *name, int compnr, int level) {
  if (role == nullptr || name == nullptr) return nullptr;
  char key[kKeySize];
  if (!perm_level_key(key, sizeof key, name, compnr, level)) return nullptr;
  void **value = rpl_get_perm_from_role(role, key);
  return value != nullptr ? static_cast<DB_PERM *>(*value) : nullptr;
}

int perm_role_table(roleT *role, const DD_TABLE *table, int compnr, const unsigned char *row,
                    int action) {
  for (int level = PERM_FIRST_TABLE_LEVEL; level <= PERM_LAST_TABLE_LEVEL; ++level) {
    const DB_PERM *head = dbc_get_perm_from_role(role, table->name, compnr, level);
    if (head == nullptr) continue;
    if (row == nullptr) {
      if (head->condition == nullptr) return head->value;
      return IsTableAction(action) ? PERM_NONE : PERM_NEEDS_ROW;
    }
    int value = EvalChain(head, table, row);
    if (value != PERM_NO_MATCH) return value;
  }
  return PERM_NONE;
}

int perm_role_field(roleT *role, const DD_TABLE *table, const DD_COLUMN *column, int compnr,
                    const unsigned char *row) {
  for (int level = PERM_FIRST_FIELD_LEVEL; level <= PERM_LAST_FIELD_LEVEL; ++level) {
    const DB_PERM *head = dbc_get_perm_from_role(role, column->name, compnr, level);
    if (head == nullptr) continue;
    int value = EvalChain(head, table, row);
    if (value != PERM_NO_MATCH) return value;
  }
  return PERM_NO_FIELD;
}

int perm_table_permission(const DD_TABLE *table, int logical, int physical,
                          const unsigned char *row) {
  if (perm_super_user()) return srch_permission();
  int result = PERM_NONE;
  if (HaveRoles()) {
    int action = row == nullptr ? PERM_ACTION_DELETE : 0;
    int phys = MaxOverRoles(table, physical, row, action);
    result = phys;
    if (logical != physical) result = std::min(phys, MaxOverRoles(table, logical, row, action));
  }
  if (DebugWord() & kDebugPermValues)
    std::fprintf(stderr, "Permission for table '%s' : %d\n", table->name, result);
  return result;
}

int perm_field_permission(const DD_TABLE *table, const DD_COLUMN *column, int logical,
                          const unsigned char *row) {
  if (perm_super_user()) return srch_permission();
  int result = PERM_NO_FIELD;
  RPL_WALK walk;
  for (roleT *role = rpl_get_role(ROLE_TYPE_DB, 1, &walk); role != nullptr;
       role = rpl_get_role(ROLE_TYPE_DB, 2, &walk)) {
    int value = perm_role_field(role, table, column, logical, row);
    if (value == PERM_WRITE) {
      result = PERM_WRITE;
      break;
    }
    if (result == PERM_NO_FIELD || (value > result && value != PERM_NO_FIELD)) result = value;
  }
  if (DebugWord() & kDebugPermValues) {
    std::fprintf(stderr, "Permission for field '%s': %d\n", column->name, result);
    if (row != nullptr) {
      std::fprintf(stderr, "Row:");
      for (int i = 0; i < table->row_length; ++i) std::fprintf(stderr, " %02x", row[i]);
      std::fprintf(stderr, "\n");
    }
  }
  return result;
}

int perm_action_threshold(int action) {
  if (IsTableAction(action) || action == PERM_ACTION_DELETE) return PERM_DELETE;
  if (action == PERM_ACTION_INSERT) return PERM_WRITE;
  if (action == PERM_ACTION_UPDATE) return PERM_MODIFY;
  return 0;
}

int perm_action_allowed(const DD_TABLE *table, int logical, int physical, int action,
                        const unsigned char *row) {
  if (perm_super_user()) return 0;
  int threshold = perm_action_threshold(action);
  bool physical_ok = false;
  bool logical_ok = logical == physical;
  if (threshold == 0) {
    log_mesg(__FILE__, __LINE__, "zdb_action_allowed", 0, "Wrong com_code (%d)", action);
  } else {
    physical_ok = HighestOverRoles(table, physical, row, action) >= threshold;
    if (!logical_ok) logical_ok = HighestOverRoles(table, logical, row, action) >= threshold;
  }
  if (physical_ok && logical_ok) return 0;
  zdb_errno = ZE_NO_PERMISSION;
  if (DebugWord() & ZDB_DEBUG_REQUESTS) {
    const char *name = row != nullptr ? zdb_row_action(action) : zdb_table_action(action);
    std::fprintf(stderr, "<-> PERM_READ no permission for (%s%03d) action %s\n", table->name,
                 logical, name != nullptr ? name : "?");
  }
  // The refusal is the row's only when a row condition could have allowed
  // the action for another row.
  int refused = physical_ok ? logical : physical;
  bool row_decides = row != nullptr && threshold != 0 &&
                     RightsOf(table, refused).conditionalBest >= threshold;
  const char *words = action == PERM_ACTION_INSERT   ? "an insert"
                      : action == PERM_ACTION_UPDATE ? "an update"
                      : action == PERM_ACTION_DELETE ? "a delete"
                      : zdb_table_action(action) != nullptr ? zdb_table_action(action)
                                                            : "the action";
  reset_zdb_msg();
  set_zdb_msg_logged(nullptr, 0, "No permission for %s on %.8s%03d: the roles of the user (db_roles) "
                     "do not allow it%s",
                     words, table->name, logical, row_decides ? " for this row" : "");
  return -1;
}
