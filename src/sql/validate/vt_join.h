// The join nodes of the validated tree that a FROM clause becomes: SQLVTJoin
// joins two table expressions under a join type and an optional condition;
// SQLVTConstLeftOuterJoin is the left outer join of a constant row with one
// table expression (the table that a REFERS TO from a constant names).
//
// Both are built after their children were resolved, so name resolution,
// the RETRY filter, FOR UPDATE and index hints never reach them: those
// belong to the FROM clause they replaced, and a call is an internal error.
#pragma once

#include <memory>

#include "sql/common/sql_type.h"
#include "sql/validate/vt_node.h"
#include "sql/validate/vt_search_cond.h"

class SQLVTJoin : public SQLVTNode {
 public:
  // Takes ownership of left, right and condition (null for none).
  SQLVTJoin(SQLJoinType type, SQLVTNode *left, SQLVTNode *right, SQLVTSCSearchCond *condition);
  ~SQLVTJoin() override;

  SQLJoinType GetJoinType() const { return type_; }
  SQLVTNode *GetLeft() const { return left_.get(); }
  SQLVTNode *GetRight() const { return right_.get(); }
  SQLVTSCSearchCond *GetCondition() const { return condition_.get(); }

  [[noreturn]] SQLVTRetryFilter *BuildRetryFilter(SQLRetryClauseType type, SQLRetrySpecList *specs) override;
  // SQLRSJoin over both sides' row sources.
  SQLRowSource *DoCreateRS() override;
  // The left side's columns, then the right side's.
  SQLColumnDescriptor const *GetColumnDescriptor(int column) const override;
  int GetNumCols() const override { return left_->GetNumCols() + right_->GetNumCols(); }
  [[noreturn]] bool IsForUpdate() override;
  void Log() const override;
  [[noreturn]] SQLVTNode *MapColumnNamesToIds(SQLVTScope *scope, SQLVTreeData *treeData, int flags,
                                              List<char const *> *restrictedQualifiers,
                                              SQLVTWhereUsedMgr *whereUsed) override;
  void ValidateTypes() const override;
  void ValidateArrayUsage() const override;
  [[noreturn]] void SetIndexHintsOnTables(List<SQLVTIndexHint> *hints) override;
  bool IsGroupByQuery() override { return false; }

 private:
  SQLJoinType type_;
  std::unique_ptr<SQLVTNode> left_;
  std::unique_ptr<SQLVTNode> right_;
  std::unique_ptr<SQLVTSCSearchCond> condition_;  // null when none
};

class SQLVTConstLeftOuterJoin : public SQLVTNode {
 public:
  // Takes ownership of child and condition.
  SQLVTConstLeftOuterJoin(SQLVTNode *child, SQLVTSCSearchCond *condition);
  ~SQLVTConstLeftOuterJoin() override;

  SQLVTNode *GetChild() const { return child_.get(); }
  SQLVTSCSearchCond *GetCondition() const { return condition_.get(); }

  [[noreturn]] SQLVTRetryFilter *BuildRetryFilter(SQLRetryClauseType type, SQLRetrySpecList *specs) override;
  // SQLRSConstLeftOuterJoin over the child's row source.
  SQLRowSource *DoCreateRS() override;
  SQLColumnDescriptor const *GetColumnDescriptor(int column) const override {
    return child_->GetColumnDescriptor(column);
  }
  int GetNumCols() const override { return child_->GetNumCols(); }
  [[noreturn]] bool IsForUpdate() override;
  void Log() const override;
  [[noreturn]] SQLVTNode *MapColumnNamesToIds(SQLVTScope *scope, SQLVTreeData *treeData, int flags,
                                              List<char const *> *restrictedQualifiers,
                                              SQLVTWhereUsedMgr *whereUsed) override;
  void ValidateTypes() const override;
  void ValidateArrayUsage() const override;
  [[noreturn]] void SetIndexHintsOnTables(List<SQLVTIndexHint> *hints) override;
  bool IsGroupByQuery() override { return false; }

 private:
  std::unique_ptr<SQLVTNode> child_;
  std::unique_ptr<SQLVTSCSearchCond> condition_;  // null when none
};
