// SQLVTScopeLevel: one level of the name-resolution stack (vt_scope.h).
//
// A level stands for what one table expression makes visible: the select
// list of a query or derived table (SQLVTColumnScopeLevel), a grouped query
// (SQLVTGroupScopeLevel), the tables of a FROM clause (SQLVTTableScopeLevel),
// a derived table under its correlation name (SQLVTDerivedTableScopeLevel)
// or the two sides of an explicit join (SQLVTPairScopeLevel). Names are
// compared byte for byte; identifiers arrive lower-cased. q is a qualifier
// or null. A failed lookup may leave the record partly filled: callers use
// it only after TRUE.
#pragma once

#include "sql/common/ref_ptr.h"
#include "sql/common/sql_exception.h"
#include "sql/validate/set_func_spec.h"
#include "sql/validate/vt_scope_info.h"

#include "sql/validate/vt_value_expr.h"


class SQLVTScopeLevel {
 public:
  SQLVTScopeLevel() = default;
  SQLVTScopeLevel(SQLVTScopeLevel const &) = delete;
  SQLVTScopeLevel &operator=(SQLVTScopeLevel const &) = delete;
  virtual ~SQLVTScopeLevel();

  // Lookup of a column that is the argument of a set function.
  virtual bool GetGroupedTableColumnInfo(char const *q, char const *name, SQLVTColumnInfo *info) = 0;
  // The result column of a set function (a null argument is COUNT(*)).
  // Only a group level has one: every other level refuses with 42I21.
  virtual void GetAggregateInfo(RefPtr<SQLVTSCValueExpr> argument, SQLSetFuncSpec function,
                                SQLVTColumnInfo *info);
  virtual SQLColumnDescriptor const *GetColumnDescriptor(int position) = 0;
  virtual bool GetColumnInfo(char const *q, char const *name, SQLVTColumnInfo *info) = 0;
  virtual void GetColumnInfoByPos(int position, SQLVTColumnInfo *info) = 0;
  virtual void GetColumnNullSpec(int position, SQLVTNullSpec *nullSpec,
                                 RefPtr<SQLVTClearUnrefKey> *key) = 0;
  virtual int GetNumCols() = 0;
  virtual int GetNumTables() = 0;
  virtual bool GetPseudoColumnInfo(char const *q, char const *name, SQLVTColumnInfo *info) = 0;
  virtual bool GetTableInfo(char const *name, SQLVTTableInfo *info) = 0;
  virtual void GetTableInfoByPos(int position, SQLVTTableInfo *info) = 0;

  // The company-number set that a _compnr restriction with qualifier q
  // restricts ("company_nr" instead of "_compnr" when ansiName); null when
  // this level has none. Without q, two base tables are ambiguous (42I02).
  SQLVTSCCompnrSet const *GetCompnrSetForQualif(char const *q, bool ansiName);
};

// 42I02 "Ambiguous column reference '[q.]name'".
SQLExSyntaxError SQLVTAmbiguousColumn(char const *q, char const *name);
// "[q.]name" as messages show a column reference.
SQLString SQLVTColumnText(char const *q, char const *name);
