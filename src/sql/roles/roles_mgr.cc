#include "sql/roles/roles_mgr.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <string>

#include "dbc/compnr/compnr.h"
#include "dbc/perm/perm_roles.h"
#include "platform/log.h"
#include "sql/common/container_exceptions.h"
#include "sql/common/sql_exception.h"
#include "sql/common/sql_schema.h"
#include "sql/exec/sc_search_cond.h"
#include "sql/roles/role_cond_parse.h"
#include "sql/roles/roles_cache.h"
#include "sql/validate/vt_table.h"
#include "sql/validate/vtsc_comparison.h"
#include "sql/validate/vtsc_connectives.h"
#include "sql/validate/vtsc_constants.h"
#include "sql/validate/vtsc_row_value.h"

pSQLRolesCachedElementKeySQLRolesCacheKeyHash *SQLRolesMgr::_cache = nullptr;
int SQLRolesMgr::_noParsed = 0;

namespace {

constexpr int kCacheSize = 1000;  // expected entries (3067 buckets)
constexpr int kLevelConditional = 5;     // table, this company, with condition
constexpr int kLevelAnyConditional = 6;  // table, any company, with condition

// The permission value of the most specific table-level entry (levels 7 to
// 14) of a role; 1 when it has none.
int TablePermission(roleT *role, char const *tableName, int compnr) {
  for (int level = kLevelAnyConditional + 1; level <= PERM_LAST_TABLE_LEVEL; ++level) {
    DB_PERM const *head = dbc_get_perm_from_role(role, tableName, compnr, level);
    if (head != nullptr) return head->value;
  }
  return PERM_NONE;
}

// The schema that a cached condition's column references point into; null
// for a table the dictionary does not know (its condition has no columns).
SQLSchemaPtr SchemaIfKnown(char const *tableName) {
  try {
    return SQLSchemaMgr::GetSchema(tableName);
  } catch (SQLSchemaExNotExists const &) {
    return SQLSchemaPtr();
  }
}

// A failure that is not an error of the roles themselves: the table is
// closed to the user rather than opened.
void LogFailClosed(char const *tableName, int compnr, char const *reason) {
  log_mesg(__FILE__, __LINE__, "Role restriction", LOG_ERROR,
           "Cannot read the role conditions of table %.8s%03d (%s); no rows are visible", tableName, compnr,
           reason);
}

// The AND and OR of two owned conditions, null standing for "all rows".
SQLSCCondPtr And(SQLSCCondPtr a, SQLSCCondPtr b) { return SQLSCAnd(std::move(a), std::move(b)); }
SQLSCCondPtr Or(SQLSCCondPtr a, SQLSCCondPtr b) { return SQLSCOr(std::move(a), std::move(b)); }

// The registration of the cache when the library loads.
struct SQLRolesMgrLoad {
  SQLRolesMgrLoad() { SQLRolesMgr::GetNoCachedElements(); }
} SQLRolesMgrInstance;

}  // namespace

pSQLRolesCachedElementKeySQLRolesCacheKeyHash &SQLRolesMgr::Cache() {
  if (_cache == nullptr) {
    _cache = new pSQLRolesCachedElementKeySQLRolesCacheKeyHash(kCacheSize, SQLRolesCacheKeyHash,
                                                               SQLRolesCacheKeyEqual);
  }
  return *_cache;
}

int SQLRolesMgr::GetNoCachedElements() { return Cache().NrElements(); }

SQLRSSCSearchCond *SQLRolesMgr::GetCondition(char const *tableName, int logicalCompnr) {
  if (tableName == nullptr) tableName = "";  // no table of that name: no rows
  SQLRolesCacheKey key(tableName, logicalCompnr);
  pSQLRolesCachedElementKeySQLRolesCacheKeyHash &cache = Cache();
  SQLRolesCachedElement *element = nullptr;
  try {
    element = cache.Lookup(key);
  } catch (HashExNotExists const &) {
  }
  if (element == nullptr) {
    SQLSCCondPtr condition = ReadRoles(key, tableName, logicalCompnr);
    SQLSchemaPtr schema = condition ? SchemaIfKnown(tableName) : SQLSchemaPtr();
    std::unique_ptr<SQLRolesCachedElement> entry(new SQLRolesCachedSearchCond(condition.get(), schema));
    condition.release();
    cache.Insert(key, entry.get());  // a failure deletes the entry with its condition
    element = entry.release();
  }
  SQLVTSCSearchCond *result = element->GetCachedResult();
  return result != nullptr ? result->CreateRS() : nullptr;
}

SQLSCCondPtr SQLRolesMgr::ReadRoles(SQLRolesCacheKey const &key, char const *tableName, int logicalCompnr) {
  try {
    return GetRolesCondition(tableName, logicalCompnr);
  } catch (SQLException const &e) {
    SQLException again(e.GetSQLState(), e.GetZDBError(), *e.GetMessageText());
    RememberFailure(key, [&e] {
      return new SQLRolesCachedException(e.GetSQLState(), e.GetZDBError(), *e.GetMessageText());
    });
    throw again;
  } catch (std::bad_alloc const &) {
    RememberFailure(key, [] { return new SQLRolesCachedBadAlloc(); });
    throw;
  } catch (SQLSchemaExNotExists const &) {
    LogFailClosed(tableName, logicalCompnr, "the table is not in the data dictionary");
  } catch (std::exception const &e) {
    LogFailClosed(tableName, logicalCompnr, e.what());
  } catch (...) {
    LogFailClosed(tableName, logicalCompnr, "unexpected failure");
  }
  // A row filter that cannot be read closes the table rather than opening it.
  return NeverTrue();
}

template <class Make>
void SQLRolesMgr::RememberFailure(SQLRolesCacheKey const &key, Make make) {
  try {
    std::unique_ptr<SQLRolesCachedElement> failed(make());
    Cache().Insert(key, failed.get());
    failed.release();
  } catch (std::bad_alloc const &) {
    // Not remembered: the next lookup reads the roles again.
  }
}

SQLSCCondPtr SQLRolesMgr::GetRolesCondition(char const *tableName, int logicalCompnr) {
  if (perm_super_user()) return nullptr;
  SQLSCCondPtr condition;
  int bestAccess = PERM_NONE;
  bool allRows = false;
  RPL_WALK walk;
  for (roleT *role = rpl_get_role(ROLE_TYPE_DB, 1, &walk); role != nullptr && !allRows;
       role = rpl_get_role(ROLE_TYPE_DB, 2, &walk)) {
    int access = PERM_NONE;
    SQLSCCondPtr c;
    try {
      c = GetRoleCondition(role, tableName, logicalCompnr, &access);
    } catch (SQLException const &e) {
      SQLString message = SQLString("Syntax error in role '") + SQLString(role->name) + SQLString("': ") +
                          *e.GetMessageText();
      throw SQLException(e.GetSQLState(), e.GetZDBError(), message);
    }
    if (access == PERM_NONE) continue;
    if (!c) {
      condition.reset();  // this role grants every row
      allRows = true;
    } else {
      condition = Or(std::move(condition), std::move(c));
    }
    bestAccess = std::max(bestAccess, access);
  }
  if (bestAccess == PERM_NONE) return NeverTrue();
  return condition;
}

SQLSCCondPtr SQLRolesMgr::GetRoleCondition(roleT *role, char const *tableName, int logicalCompnr, int *access) {
  int physical = compnrLogicToPhysic(compnrGetCompnrData(tableName), logicalCompnr);
  int physicalAccess = PERM_NONE;
  SQLSCCondPtr condition = GetRoleConditionForCompnr(role, tableName, physical, &physicalAccess);
  if (physicalAccess == PERM_NONE || physical == logicalCompnr) {
    *access = physicalAccess;
    return condition;
  }
  int logicalAccess = PERM_NONE;
  SQLSCCondPtr logical = GetRoleConditionForCompnr(role, tableName, logicalCompnr, &logicalAccess);
  if (logicalAccess == PERM_NONE && condition) {
    *access = PERM_NONE;
    return nullptr;
  }
  *access = std::min(physicalAccess, logicalAccess);
  return And(std::move(condition), std::move(logical));
}

SQLSCCondPtr SQLRolesMgr::GetRoleConditionForCompnr(roleT *role, char const *tableName, int compnr, int *access) {
  SQLSCCondPtr grants5, denials5, grants6, denials6;
  GetRoleConditionForCompnrAndPLev(role, tableName, compnr, kLevelConditional, &grants5, &denials5);
  GetRoleConditionForCompnrAndPLev(role, tableName, compnr, kLevelAnyConditional, &grants6, &denials6);
  SQLSCCondPtr r;
  if (TablePermission(role, tableName, compnr) == PERM_NONE) {
    // No table-level access: only what the conditional grants allow.
    r = std::move(grants6);
    if (r) r = And(std::move(r), std::move(denials5));
    r = Or(std::move(r), std::move(grants5));
    *access = r ? PERM_READ : PERM_NONE;
  } else {
    // Table-level access: every row but what the denials take away.
    if (denials6) r = Or(std::move(grants6), std::move(denials6));
    r = And(std::move(r), std::move(denials5));
    if (r) r = Or(std::move(r), std::move(grants5));
    *access = PERM_READ;
  }
  return r;  // the partial conditions not used go with their pointers
}

void SQLRolesMgr::GetRoleConditionForCompnrAndPLev(roleT *role, char const *tableName, int compnr, int level,
                                                   SQLSCCondPtr *grants, SQLSCCondPtr *denials) {
  for (DB_PERM const *entry = dbc_get_perm_from_role(role, tableName, compnr, level); entry != nullptr;
       entry = entry->next) {
    SQLSCCondPtr condition = ParseCondition(tableName, entry->condition_text);
    if (entry->value == PERM_NONE) {
      SQLSCCondPtr denial(new SQLVTSCNot(condition.get()));
      condition.release();
      *denials = And(std::move(*denials), std::move(denial));
    } else {
      *grants = Or(std::move(*grants), std::move(condition));
    }
  }
}

SQLSCCondPtr SQLRolesMgr::ParseCondition(char const *tableName, char const *text) {
  ++_noParsed;
  // The table node supplies the column names and types; it throws
  // SQLSchemaExNotExists for a table the dictionary does not hold. It
  // stands for no FROM table, so it takes no company-number parameter.
  std::size_t const length = std::strlen(tableName);
  auto name = std::make_unique<char[]>(length + 1);
  std::memcpy(name.get(), tableName, length + 1);
  SQLVTTable table(name.release(), nullptr, false);
  SQLSCCondPtr condition(SQLParseSC(text != nullptr ? text : "", &table));
  if (!condition) {
    throw SQLException(scstate::kSyntaxError, scstate::kNativeError,
                       SQLString((std::string("Syntax error in role for table ") + tableName).c_str()));
  }
  try {
    condition->ValidateArrayUsage();
    condition->ValidateTypes();
  } catch (SQLException const &e) {
    throw SQLException(scstate::kValidationError, scstate::kNativeError, *e.GetMessageText());
  }
  return condition;
}

SQLSCCondPtr SQLRolesMgr::NeverTrue() {
  auto row = [](long value) {
    auto result = std::make_unique<SQLVTSCGenericRowValueConstr>();
    auto constant = std::make_unique<SQLVTSCIntegerConst>(value);
    result->Append(constant.get());
    constant.release();
    return result;
  };
  std::unique_ptr<SQLVTSCRowValueConstr> one = row(1);
  std::unique_ptr<SQLVTSCRowValueConstr> zero = row(0);
  SQLSCCondPtr condition(new SQLVTSCComparison(one.get(), SQLVTSC_EQUAL, zero.get()));
  one.release();
  zero.release();
  return condition;
}

bool SQLRolesMgr::ReadSetEqualsUpdateSet(char const *tableName, int logicalCompnr, int physicalCompnr) {
  return ReadSetEqualsSet(tableName, logicalCompnr, physicalCompnr, PERM_MODIFY);
}

bool SQLRolesMgr::ReadSetEqualsDeleteSet(char const *tableName, int logicalCompnr, int physicalCompnr) {
  return ReadSetEqualsSet(tableName, logicalCompnr, physicalCompnr, PERM_DELETE);
}

bool SQLRolesMgr::ReadSetEqualsSet(char const *tableName, int logicalCompnr, int physicalCompnr, int limit) {
  if (perm_super_user()) return true;
  bool answer = true;
  RPL_WALK walk;
  for (roleT *role = rpl_get_role(ROLE_TYPE_DB, 1, &walk); role != nullptr && answer;
       role = rpl_get_role(ROLE_TYPE_DB, 2, &walk)) {
    answer = RoleReadSetEqualsSet(role, tableName, physicalCompnr, limit);
    if (answer && physicalCompnr != logicalCompnr) {
      answer = RoleReadSetEqualsSet(role, tableName, logicalCompnr, limit);
    }
  }
  return answer;
}

bool SQLRolesMgr::RoleReadSetEqualsSet(roleT *role, char const *tableName, int compnr, int limit) {
  // A value that lets the user read (above 1) but stays below the limit
  // makes the sets differ.
  auto below = [limit](int value) { return value > PERM_NONE && value < limit; };
  if (below(TablePermission(role, tableName, compnr))) return false;
  for (int level = kLevelConditional; level <= kLevelAnyConditional; ++level) {
    for (DB_PERM const *entry = dbc_get_perm_from_role(role, tableName, compnr, level); entry != nullptr;
         entry = entry->next) {
      if (below(entry->value)) return false;
    }
  }
  return true;
}

void SQLRolesMgrExit() {
  if (SQLRolesMgr::_cache != nullptr) {
    pSQLRolesCachedElementKeySQLRolesCacheKeyHash *cache = SQLRolesMgr::_cache;
    for (bool ok = cache->First(); ok; ok = cache->Next()) delete cache->GetCurrent();
    delete cache;
    SQLRolesMgr::_cache = nullptr;
  }
  sql_scyylex_destroy();
}
