// SQLVTPairScopeLevel: the two sides of an explicit join as one level. The
// right side's columns and tables follow the left side's: positions found
// on the right are shifted by the left side's column count.
#pragma once

#include <memory>

#include "sql/validate/vt_scope_level.h"

class SQLVTPairScopeLevel : public SQLVTScopeLevel {
 public:
  // Takes ownership of both sides; their counts are taken now.
  SQLVTPairScopeLevel(SQLVTScopeLevel *left, SQLVTScopeLevel *right);
  ~SQLVTPairScopeLevel() override;

  // Asks both sides (which refuse what they must) and is FALSE.
  bool GetGroupedTableColumnInfo(char const *q, char const *name, SQLVTColumnInfo *info) override;
  SQLColumnDescriptor const *GetColumnDescriptor(int position) override;
  bool GetColumnInfo(char const *q, char const *name, SQLVTColumnInfo *info) override;
  void GetColumnInfoByPos(int position, SQLVTColumnInfo *info) override;
  void GetColumnNullSpec(int position, SQLVTNullSpec *nullSpec, RefPtr<SQLVTClearUnrefKey> *key) override;
  int GetNumCols() override { return leftCols_ + rightCols_; }
  int GetNumTables() override { return leftTables_ + rightTables_; }
  bool GetPseudoColumnInfo(char const *q, char const *name, SQLVTColumnInfo *info) override;
  bool GetTableInfo(char const *name, SQLVTTableInfo *info) override;
  void GetTableInfoByPos(int position, SQLVTTableInfo *info) override;

 private:
  // Moves a right-side result behind the left side's columns.
  void ShiftRight(SQLVTColumnInfo *info) const;

  std::unique_ptr<SQLVTScopeLevel> left_;
  std::unique_ptr<SQLVTScopeLevel> right_;
  int leftCols_, rightCols_;
  int leftTables_, rightTables_;
};
