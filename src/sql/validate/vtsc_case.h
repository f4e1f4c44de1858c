// The simple CASE expression of the validated tree:
//   CASE operand WHEN w1 THEN r1 ... [ELSE e] END
// A THEN NULL result is held as null. enum_description becomes one of these
// during name resolution.
#pragma once

#include <memory>

#include "sql/common/list.h"
#include "sql/validate/vt_value_expr.h"

class SQLVTSCSimpleWhenClause : public SQLVTObject {
 public:
  // Takes ownership of both; result null for THEN NULL.
  SQLVTSCSimpleWhenClause(SQLVTSCValueExpr *when, SQLVTSCValueExpr *result) : when_(when), then_(result) {}

  SQLVTSCValueExpr *GetWhen() const { return when_.get(); }
  SQLVTSCValueExpr *GetThen() const { return then_.get(); }

 private:
  friend class SQLVTSCSimpleCase;
  std::unique_ptr<SQLVTSCValueExpr> when_;
  std::unique_ptr<SQLVTSCValueExpr> then_;
};

// The WHEN clauses in order; owns them.
class SQLVTSCSimpleWhenClauseList : public List<SQLVTSCSimpleWhenClause *> {
 public:
  SQLVTSCSimpleWhenClauseList() = default;
  SQLVTSCSimpleWhenClauseList(SQLVTSCSimpleWhenClauseList const &) = delete;
  SQLVTSCSimpleWhenClauseList &operator=(SQLVTSCSimpleWhenClauseList const &) = delete;
  ~SQLVTSCSimpleWhenClauseList() override;
};

class SQLVTSCSimpleCase : public SQLVTSCValueExpr {
 public:
  // Takes ownership of all three (and of the clauses); clauses may be null
  // for none, elseResult null for no ELSE.
  SQLVTSCSimpleCase(SQLVTSCValueExpr *operand, SQLVTSCSimpleWhenClauseList *clauses,
                    SQLVTSCValueExpr *elseResult);
  ~SQLVTSCSimpleCase() override;
  SQLVTSCSimpleCase(SQLVTSCSimpleCase const &) = delete;
  SQLVTSCSimpleCase &operator=(SQLVTSCSimpleCase const &) = delete;

  SQLVTSCValueExpr *GetOperand() const { return operand_.get(); }
  SQLVTSCSimpleWhenClauseList *GetClauses() const { return clauses_.get(); }
  SQLVTSCValueExpr *GetElse() const { return else_.get(); }

  // Casts every result present; returns the node itself.
  SQLVTSCValueExpr *Cast(SQLType type, bool tolerant) override;
  // A deep copy; null when a part cannot be copied.
  SQLVTSCValueExpr *Copy() override;
  SQLRSSCValueExpr *CreateRS() override;
  // The types all results present can share; 42T27 when there are none.
  void GetPossibleTypes(SQLTypeSet *types) override;
  // The ELSE result's depth, else the first THEN result's; -1 when the
  // expression has no result at all.
  int GetDepth() const override;
  void Log() const override;
  // A broken invariant: the node never reaches a projection's remapping.
  void MapColumnIds(int level, SQLColumnIdMappingList *mappings) override;
  // Resolves every operand in place (a combined column is refused).
  SQLVTSCValueExpr *MapColumnNamesToIds(SQLVTScope *scope, SQLVTreeData *treeData, int flags,
                                        SQLVTWhereUsedMgr *whereUsed, bool inExpression) override;
  // Checks the operands, chooses the comparison type of the case operand
  // and the WHEN operands and casts them all to it.
  void ValidateTypes() const override;
  void ValidateArrayUsage() const override;
  bool IsSameValueExpr2(SQLVTSCValueExpr const *other) const override {
    return other->IsSameSimpleCase(this);
  }
  bool IsSameSimpleCase(SQLVTSCSimpleCase const *other) const override;

 private:
  // The comparison casts of ValidateTypes change operands in place.
  void CastComparisonOperands();

  std::unique_ptr<SQLVTSCValueExpr> operand_;
  std::unique_ptr<SQLVTSCSimpleWhenClauseList> clauses_;
  std::unique_ptr<SQLVTSCValueExpr> else_;
};
