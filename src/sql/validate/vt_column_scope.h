// SQLVTColumnScopeLevel: the select list of a query or derived table as a
// scope level. Columns are found by their descriptor's name and, when a
// qualifier is given, the correlation name that exposes them. Pseudo-columns
// are looked up in the level of the query below the select list and mapped
// to select-list positions; one whose columns are not all selected is not
// visible.
#pragma once

#include <memory>

#include "sql/common/dynamic_array.h"
#include "sql/validate/vt_scope_level.h"

class SQLVTColumnScopeLevel : public SQLVTScopeLevel {
 public:
  // Takes ownership of columns, inner and idMap. idMap maps each column
  // position of inner to a select-list position (-1: not selected); it has
  // as many entries as inner has columns.
  SQLVTColumnScopeLevel(DynamicArray<SQLVTExposedColumn> *columns, SQLVTScopeLevel *inner, int *idMap);
  // A select list without a level below it.
  explicit SQLVTColumnScopeLevel(DynamicArray<SQLVTExposedColumn> *columns);
  ~SQLVTColumnScopeLevel() override;

  bool GetGroupedTableColumnInfo(char const *q, char const *name, SQLVTColumnInfo *info) override;
  SQLColumnDescriptor const *GetColumnDescriptor(int position) override;
  bool GetColumnInfo(char const *q, char const *name, SQLVTColumnInfo *info) override;
  void GetColumnInfoByPos(int position, SQLVTColumnInfo *info) override;
  void GetColumnNullSpec(int position, SQLVTNullSpec *nullSpec, RefPtr<SQLVTClearUnrefKey> *key) override;
  int GetNumCols() override { return columns_->NrElements(); }
  int GetNumTables() override { return 0; }
  bool GetPseudoColumnInfo(char const *q, char const *name, SQLVTColumnInfo *info) override;
  bool GetTableInfo(char const *name, SQLVTTableInfo *info) override;
  void GetTableInfoByPos(int position, SQLVTTableInfo *info) override;

 private:
  void Fill(int position, SQLVTColumnInfo *info) const;

  std::unique_ptr<DynamicArray<SQLVTExposedColumn>> columns_;
  std::unique_ptr<SQLVTScopeLevel> inner_;  // the query below the select list; may be null
  std::unique_ptr<int[]> idMap_;            // inner position -> select-list position, -1 none
};
