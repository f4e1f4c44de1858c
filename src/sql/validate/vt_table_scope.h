// SQLVTTableScopeLevel: the tables of a FROM clause as a scope level. A
// column name is looked up in each table's schema; an unqualified name that
// two tables supply is ambiguous. When pseudo-columns are visible, a name
// that is no column of a table may be one of its pseudo-columns ("_compnr",
// "_dlock", combined columns), which stands for a list of positions.
#pragma once

#include <vector>

#include "sql/common/dynamic_array.h"
#include "sql/validate/vt_scope_level.h"

class SQLVTTableScopeLevel : public SQLVTScopeLevel {
 public:
  explicit SQLVTTableScopeLevel(bool pseudoColumnsVisible);
  ~SQLVTTableScopeLevel() override;

  // Appends a copy; the level's row grows to cover the table's columns.
  void AppendExposedTable(SQLVTExposedTable const &table);

  // 42I21 when a table supplies the name: a set function's argument must
  // be a column of a grouped table.
  bool GetGroupedTableColumnInfo(char const *q, char const *name, SQLVTColumnInfo *info) override;
  // The descriptor of the first table (in order) whose columns cover the
  // position; null when none does.
  SQLColumnDescriptor const *GetColumnDescriptor(int position) override;
  bool GetColumnInfo(char const *q, char const *name, SQLVTColumnInfo *info) override;
  void GetColumnInfoByPos(int position, SQLVTColumnInfo *info) override;
  void GetColumnNullSpec(int position, SQLVTNullSpec *nullSpec, RefPtr<SQLVTClearUnrefKey> *key) override;
  int GetNumCols() override { return numCols_; }
  int GetNumTables() override { return tables_.NrElements(); }
  bool GetPseudoColumnInfo(char const *q, char const *name, SQLVTColumnInfo *info) override;
  bool GetTableInfo(char const *name, SQLVTTableInfo *info) override;
  void GetTableInfoByPos(int position, SQLVTTableInfo *info) override;

 private:
  bool FillColumn(SQLVTExposedTable const &t, char const *name, SQLVTColumnInfo *info) const;
  bool FillPseudoColumn(SQLVTExposedTable const &t, char const *name, SQLVTColumnInfo *info);
  // The lookup shared by columns and pseudo-columns.
  bool Find(char const *q, char const *name, SQLVTColumnInfo *info, bool columns);

  DynamicArray<SQLVTExposedTable> tables_;
  int numCols_ = 0;             // columns of the level's row
  bool pseudoColumnsVisible_;
  std::vector<int> positions_;  // filled by pseudo-column lookups
};
