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
  SQLExecTree *CreateET() override;
  void DoValidate() override;

 protected:
  // Takes ownership of table and condition (null when none).
  SQLVTTableChange(char const *className, SQLVTTable *table, SQLVTSCSearchCond *condition);

  char const *ClassName() const { return className_; }
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
  void ValidateTypes() const override;
  void ValidateArrayUsage() const override;

 private:
  std::unique_ptr<SQLVTSetClauseList> setClauses_;
};
