// SQLRolesMgr: the row restrictions that the user's DB roles put on the
// tables that SQL statements read, update and delete.
//
// For a table and a logical company number the manager builds one search
// condition that a row must satisfy to be visible: the union of what each
// role grants, each role with its own denials, or 1 = 0 when no role grants
// anything. Role conditions are read once per table and company (the
// role-condition language, role_cond_parse.h) and the outcome, a condition,
// no restriction or an error, is kept in a process-wide cache for the rest
// of the process; roles loaded later are not seen for pairs already cached.
//
// Access values of one role: 1 no access, 2 access to the rows its
// condition allows (all rows when there is no condition).
#pragma once

#include "dbc/perm/roles_list.h"
#include "sql/common/sql_containers.h"
#include "sql/roles/role_cond_build.h"

class SQLRSSCSearchCond;
class SQLRolesCacheKey;

class SQLRolesMgr {
 public:
  // A new executable condition (owned by the caller) that a row of the table
  // in that logical company must satisfy, or null when the user is not
  // restricted there. Throws the cached SQLException (a role condition that
  // cannot be read: QR000 to QR003, the message prefixed with "Syntax error
  // in role '<role>': ") or std::bad_alloc. When anything else goes wrong
  // while the roles are read, the table yields no rows: the condition is
  // 1 = 0 and the failure is logged once.
  static SQLRSSCSearchCond *GetCondition(char const *tableName, int logicalCompnr);

  // TRUE when no role lets the user read rows of the table that it does not
  // let him update (delete), in the physical company and, when it differs,
  // in the logical one. A super user, and a user without roles, get TRUE.
  static bool ReadSetEqualsUpdateSet(char const *tableName, int logicalCompnr, int physicalCompnr);
  static bool ReadSetEqualsDeleteSet(char const *tableName, int logicalCompnr, int physicalCompnr);

  // Role conditions read since the process started.
  static int GetNoConditionsParsed() { return _noParsed; }
  // Entries in the cache now.
  static int GetNoCachedElements();

 private:
  friend void SQLRolesMgrExit();
  friend class SQLRolesMgrTest;

  static pSQLRolesCachedElementKeySQLRolesCacheKeyHash &Cache();

  // GetRolesCondition for a cache miss: an SQL error or running out of
  // memory is remembered for the key and thrown on; any other failure is
  // logged and gives the never-true condition.
  static SQLSCCondPtr ReadRoles(SQLRolesCacheKey const &key, char const *tableName, int logicalCompnr);
  // Caches the failure that make() returns (a new entry), unless memory runs out.
  template <class Make>
  static void RememberFailure(SQLRolesCacheKey const &key, Make make);

  // The validated condition of every role together; null: no restriction.
  static SQLSCCondPtr GetRolesCondition(char const *tableName, int logicalCompnr);
  // One role, in the physical company and, when it differs, the logical one.
  static SQLSCCondPtr GetRoleCondition(roleT *role, char const *tableName, int logicalCompnr, int *access);
  // One role in one company: the conditional entries of levels 5 and 6
  // against the table-level permission of levels 7 to 14.
  static SQLSCCondPtr GetRoleConditionForCompnr(roleT *role, char const *tableName, int compnr, int *access);
  // The grants ORed and the denials (NOT condition) ANDed of one level's
  // conditional entries.
  static void GetRoleConditionForCompnrAndPLev(roleT *role, char const *tableName, int compnr, int level,
                                               SQLSCCondPtr *grants, SQLSCCondPtr *denials);
  // Reads and validates one condition text against the table's columns.
  static SQLSCCondPtr ParseCondition(char const *tableName, char const *text);
  // The never-true condition 1 = 0.
  static SQLSCCondPtr NeverTrue();
  // ReadSetEquals... with the permission value that the update (4) or the
  // delete (16) needs.
  static bool ReadSetEqualsSet(char const *tableName, int logicalCompnr, int physicalCompnr, int limit);
  static bool RoleReadSetEqualsSet(roleT *role, char const *tableName, int compnr, int limit);

  static pSQLRolesCachedElementKeySQLRolesCacheKeyHash *_cache;  // made when the library loads
  static int _noParsed;
};

// Deletes every cached entry, then the cache (at process exit, from the SQL
// processor's tear-down). A later lookup starts a new cache.
void SQLRolesMgrExit();
