// SQLVTDerivedTableScopeLevel: a derived table seen under its correlation
// name. Its columns are those of the derived table's select list, qualified
// by the correlation name; pseudo-columns are not visible through it.
#pragma once

#include <memory>
#include <string>

#include "sql/validate/vt_scope_level.h"

class SQLVTDerivedTableScopeLevel : public SQLVTScopeLevel {
 public:
  // Takes ownership of inner (the derived table's column level); copies
  // the correlation name.
  SQLVTDerivedTableScopeLevel(SQLVTScopeLevel *inner, char const *correlationName);
  ~SQLVTDerivedTableScopeLevel() override;

  // 42I21 when the derived table supplies the name: a set function's
  // argument must be a column of a grouped table.
  bool GetGroupedTableColumnInfo(char const *q, char const *name, SQLVTColumnInfo *info) override;
  SQLColumnDescriptor const *GetColumnDescriptor(int position) override;
  bool GetColumnInfo(char const *q, char const *name, SQLVTColumnInfo *info) override;
  void GetColumnInfoByPos(int position, SQLVTColumnInfo *info) override;
  void GetColumnNullSpec(int position, SQLVTNullSpec *nullSpec, RefPtr<SQLVTClearUnrefKey> *key) override;
  int GetNumCols() override { return inner_->GetNumCols(); }
  int GetNumTables() override { return 1; }
  bool GetPseudoColumnInfo(char const *, char const *, SQLVTColumnInfo *) override { return false; }
  bool GetTableInfo(char const *name, SQLVTTableInfo *info) override;
  void GetTableInfoByPos(int position, SQLVTTableInfo *info) override;

  char const *GetCorrelationName() const { return correlationName_.c_str(); }

 private:
  std::unique_ptr<SQLVTScopeLevel> inner_;
  std::string correlationName_;
};
