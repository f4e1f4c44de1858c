// The predicates among the validated search conditions: x IN (list),
// s LIKE p [ESCAPE e], EXISTS (subquery), x IN (subquery), x IS NULL.
//
// None of them is a place from which the lifting passes take predicates:
// both prune passes return the node itself.
#pragma once

#include <memory>

#include "sql/validate/vt_node.h"
#include "sql/validate/vt_search_cond.h"
#include "sql/validate/vtsc_row_value.h"

// What the predicates share: nothing to lift, no column-id mapping.
class SQLVTSCPredicate : public SQLVTSCSearchCond {
 public:
  SQLVTSCSearchCond *PruneCompnrSpecs(DynamicArray<SQLVTSCCompnrSpec *> *) override { return this; }
  SQLVTSCSearchCond *PruneRefers(DynamicArray<SQLVTSCRefers *> *) override { return this; }
};

class SQLVTSCInSet : public SQLVTSCPredicate {
 public:
  // Both are taken over.
  SQLVTSCInSet(SQLVTSCValueExpr *operand, SQLVTSCRowValueConstr *set) : operand_(operand), set_(set) {}

  SQLVTSCValueExpr *GetOperand() const { return operand_.get(); }
  SQLVTSCRowValueConstr *GetSet() const { return set_.get(); }

  SQLRSSCSearchCond *CreateRS() override;
  void Log() const override;
  [[noreturn]] void MapColumnIds(int level, SQLColumnIdMappingList *mappings) override;
  void MapColumnNamesToIds(SQLVTScope *scope, SQLVTreeData *treeData, int flags,
                           SQLVTWhereUsedMgr *whereUsed) override;
  void ValidateArrayUsage() const override;
  void ValidateTypes() const override;

 private:
  std::unique_ptr<SQLVTSCValueExpr> operand_;
  std::unique_ptr<SQLVTSCRowValueConstr> set_;
};

class SQLVTSCLike : public SQLVTSCPredicate {
 public:
  // Everything is taken over; escape may be null. ansi: an ANSI pattern
  // (else a regular expression).
  SQLVTSCLike(SQLVTSCValueExpr *string, SQLVTSCValueExpr *pattern, SQLVTSCValueExpr *escape, bool ansi)
      : string_(string), pattern_(pattern), escape_(escape), ansi_(ansi) {}

  bool IsAnsi() const { return ansi_; }

  SQLRSSCSearchCond *CreateRS() override;
  void Log() const override;
  [[noreturn]] void MapColumnIds(int level, SQLColumnIdMappingList *mappings) override;
  void MapColumnNamesToIds(SQLVTScope *scope, SQLVTreeData *treeData, int flags,
                           SQLVTWhereUsedMgr *whereUsed) override;
  void ValidateArrayUsage() const override;
  void ValidateTypes() const override;

 private:
  std::unique_ptr<SQLVTSCValueExpr> string_;
  std::unique_ptr<SQLVTSCValueExpr> pattern_;
  std::unique_ptr<SQLVTSCValueExpr> escape_;
  bool ansi_;
};

class SQLVTSCExists : public SQLVTSCPredicate {
 public:
  explicit SQLVTSCExists(SQLVTNode *subquery) : subquery_(subquery) {}  // taken over

  SQLRSSCSearchCond *CreateRS() override;
  void Log() const override;
  [[noreturn]] void MapColumnIds(int level, SQLColumnIdMappingList *mappings) override;
  // Refused inside a set function's argument (42I90).
  void MapColumnNamesToIds(SQLVTScope *scope, SQLVTreeData *treeData, int flags,
                           SQLVTWhereUsedMgr *whereUsed) override;
  void ValidateArrayUsage() const override { subquery_->ValidateArrayUsage(); }
  void ValidateTypes() const override { subquery_->ValidateTypes(); }

 private:
  std::unique_ptr<SQLVTNode> subquery_;
};

class SQLVTSCInSubquery : public SQLVTSCPredicate {
 public:
  // Both are taken over.
  SQLVTSCInSubquery(SQLVTSCValueExpr *operand, SQLVTNode *subquery) : operand_(operand), subquery_(subquery) {}

  SQLRSSCSearchCond *CreateRS() override;
  void Log() const override;
  [[noreturn]] void MapColumnIds(int level, SQLColumnIdMappingList *mappings) override;
  void MapColumnNamesToIds(SQLVTScope *scope, SQLVTreeData *treeData, int flags,
                           SQLVTWhereUsedMgr *whereUsed) override;
  void ValidateArrayUsage() const override;
  void ValidateTypes() const override;

 private:
  std::unique_ptr<SQLVTSCValueExpr> operand_;
  std::unique_ptr<SQLVTNode> subquery_;
};

class SQLVTSCIsNull : public SQLVTSCPredicate {
 public:
  explicit SQLVTSCIsNull(SQLVTSCValueExpr *operand) : operand_(operand) {}  // taken over

  SQLRSSCSearchCond *CreateRS() override;
  void Log() const override;
  [[noreturn]] void MapColumnIds(int level, SQLColumnIdMappingList *mappings) override;
  void MapColumnNamesToIds(SQLVTScope *scope, SQLVTreeData *treeData, int flags,
                           SQLVTWhereUsedMgr *whereUsed) override;
  void ValidateArrayUsage() const override { operand_->ValidateArrayUsage(); }
  void ValidateTypes() const override;

 private:
  std::unique_ptr<SQLVTSCValueExpr> operand_;
};
