// The root nodes of the searched DELETE and UPDATE statements: one table,
// what remains of the WHERE condition, the company-number restrictions
// lifted out of it and, for UPDATE, the SET clauses. They never create a
// row source: the whole statement goes to the driver as one request.
#pragma once

#include <memory>

#include "sql/validate/set_clause.h"
#include "sql/validate/vt_node.h"
#include "sql/validate/vt_node_support.h"
#include "sql/validate/vt_search_cond.h"
#include "sql/validate/vt_table.h"

// What DELETE and UPDATE share.
class SQLVTTableChange : public SQLVTNode {
 public:
  ~SQLVTTableChange() override;

  SQLVTTable *GetTable() const { return table_.get(); }
  SQLVTSCSearchCond *GetCondition() const { return condition_.get(); }
  // Takes ownership of the array and its restrictions.
  void SetCompnrSpecs(DynamicArray<SQLVTSCCompnrSpec *> *specs) { compnrSpecs_.reset(specs); }
  DynamicArray<SQLVTSCCompnrSpec *> *GetCompnrSpecs() const { return compnrSpecs_.get(); }

  [[noreturn]] SQLVTRetryFilter *BuildRetryFilter(SQLRetryClauseType type, SQLRetrySpecList *specs) override;
  [[noreturn]] SQLRowSource *DoCreateRS() override;
  [[noreturn]] SQLColumnDescriptor const *GetColumnDescriptor(int column) const override;
  [[noreturn]] int GetNumCols() const override;
  [[noreturn]] bool IsForUpdate() override;
  void SetIndexHintsOnTables(List<SQLVTIndexHint> *) override {}
  void ValidateTypes() const override;
  void ValidateArrayUsage() const override;

 protected:
  // Takes ownership of table and condition (null when none).
  SQLVTTableChange(char const *className, SQLVTTable *table, SQLVTSCSearchCond *condition);

  char const *ClassName() const { return className_; }
  // Applies the lifted company-number restrictions to the table: a
  // qualifier other than the table's (42I04), a second restriction (42I31)
  // and anything but a number or a host variable (42I89) are refused.
  void ApplyCompnrSpecs();
  // A table scope level over the table, pushed on scope.
  void PushTableLevel(SQLVTScope *scope, int flags);
  // Registers the table and, with restrictions, its "_compnr" column.
  void RegisterWhereUsed(SQLVTWhereUsedMgr *whereUsed) const;
  // The execution tree's condition: the WHERE condition and the role
  // condition of the user (either may be absent). Throws "QP060" unless the
  // user may change every row it may read (allowed).
  SQLRSSCSearchCond *CreateConditionET(bool allowed, int logical);
  // "Table: " with the table, then setClauses (when given), then
  // "SearchCond: " with the condition or "NULL" and the restrictions.
  void LogParts(SQLVTSetClauseList const *setClauses) const;

 private:
  char const *className_;  // "SQLVTDelete" or "SQLVTUpdate", for the stops
  std::unique_ptr<SQLVTTable> table_;
  std::unique_ptr<SQLVTSCSearchCond> condition_;
  SQLVTOwnedArray<SQLVTSCCompnrSpec> compnrSpecs_;  // null when none
};

class SQLVTDelete : public SQLVTTableChange {
 public:
  SQLVTDelete(SQLVTTable *table, SQLVTSCSearchCond *condition)
      : SQLVTTableChange("SQLVTDelete", table, condition) {}

  void Log() const override;
  SQLVTNode *MapColumnNamesToIds(SQLVTScope *scope, SQLVTreeData *treeData, int flags,
                                 List<char const *> *restrictedQualifiers,
                                 SQLVTWhereUsedMgr *whereUsed) override;
  // The reference checks: 42I65 when child tables restrict the delete,
  // 42I66 when a parent must be updated on delete (both skipped while the
  // database client's reference checks are off).
  void DoValidate() override;
  // SQLETNetDelete; "QP060" without the permission to delete what the user
  // may read.
  SQLExecTree *CreateET() override;
};

class SQLVTUpdate : public SQLVTTableChange {
 public:
  // Takes ownership of table, condition and setClauses.
  SQLVTUpdate(SQLVTTable *table, SQLVTSCSearchCond *condition, SQLVTSetClauseList *setClauses)
      : SQLVTTableChange("SQLVTUpdate", table, condition), setClauses_(setClauses) {}

  SQLVTSetClauseList *GetSetClauses() const { return setClauses_.get(); }

  void Log() const override;
  SQLVTNode *MapColumnNamesToIds(SQLVTScope *scope, SQLVTreeData *treeData, int flags,
                                 List<char const *> *restrictedQualifiers,
                                 SQLVTWhereUsedMgr *whereUsed) override;
  // Casts each SET value to its column's type, then the condition's types.
  void ValidateTypes() const override;
  // 42I64 for a SET column that is an array, then the condition's check.
  void ValidateArrayUsage() const override;
  // The key checks: 42I67 for a primary-key column, 42I68 for a foreign-key
  // column (only while the reference checks are on).
  void DoValidate() override;
  // SQLETNetUpdate; "QP060" without the permission to update what the
  // user may read.
  SQLExecTree *CreateET() override;

 private:
  std::unique_ptr<SQLVTSetClauseList> setClauses_;
};
