// Casts of the validated tree.
//
// SQLVTSCCast is an explicit CAST(x AS type). It fixes the type of its
// operand during type validation (an untyped parameter takes the type, an
// integer constant cast to REAL becomes a real constant) and then leaves
// the tree: the operand takes its place.
//
// SQLVTSCReinterpretCast is the cast that type validation inserts by itself
// when a number stands where a date, a timestamp or an interval is asked
// (the number is taken as the day number, seconds or count). The parser
// never builds one, so it is never resolved or cast again.
#pragma once

#include <memory>

#include "sql/validate/vt_value_expr.h"

class SQLVTSCReinterpretCast : public SQLVTSCValueExpr {
 public:
  // Takes ownership of operand.
  SQLVTSCReinterpretCast(SQLVTSCValueExpr *operand, SQLType type) : operand_(operand), type_(type) {}

  SQLVTSCValueExpr *GetOperand() const { return operand_.get(); }
  SQLType GetTargetType() const { return type_; }

  // A broken invariant: the node is made by Cast and never cast again.
  SQLVTSCValueExpr *Cast(SQLType type, bool tolerant) override;
  // A copy of the operand under the same cast (null when the operand has
  // none), so that copied expressions keep their meaning.
  SQLVTSCValueExpr *Copy() override;
  SQLRSSCValueExpr *CreateRS() override;
  void GetPossibleTypes(SQLTypeSet *types) override { types->Insert(type_); }
  void Log() const override;
  void MapColumnIds(int level, SQLColumnIdMappingList *mappings) override {
    operand_->MapColumnIds(level, mappings);
  }
  SQLVTSCValueExpr *MapColumnNamesToIds(SQLVTScope *, SQLVTreeData *, int, SQLVTWhereUsedMgr *,
                                        bool) override {
    return nullptr;
  }
  void ValidateTypes() const override { operand_->ValidateTypes(); }
  bool IsSameValueExpr2(SQLVTSCValueExpr const *other) const override {
    return other->IsSameReinterpretCast(this);
  }
  bool IsSameReinterpretCast(SQLVTSCReinterpretCast const *other) const override;

 private:
  std::unique_ptr<SQLVTSCValueExpr> operand_;
  SQLType type_;
};

class SQLVTSCCast : public SQLVTSCValueExpr {
 public:
  // Takes ownership of operand.
  SQLVTSCCast(SQLVTSCValueExpr *operand, SQLType type) : operand_(operand), type_(type) {}

  SQLVTSCValueExpr *GetOperand() const { return operand_.get(); }
  SQLType GetTargetType() const { return type_; }

  // Accepts the target type (or REAL for an INTEGER target under
  // tolerance), casts the operand to the target without tolerance and
  // returns it in place of this node, which is deleted.
  SQLVTSCValueExpr *Cast(SQLType type, bool tolerant) override;
  SQLVTSCValueExpr *Copy() override;
  // Never reached: the node does not survive type validation.
  SQLRSSCValueExpr *CreateRS() override { return nullptr; }
  // The target type, when the operand can be cast to it.
  void GetPossibleTypes(SQLTypeSet *types) override;
  void Log() const override;
  void MapColumnIds(int level, SQLColumnIdMappingList *mappings) override {
    operand_->MapColumnIds(level, mappings);
  }
  SQLVTSCValueExpr *MapColumnNamesToIds(SQLVTScope *scope, SQLVTreeData *treeData, int flags,
                                        SQLVTWhereUsedMgr *whereUsed, bool inExpression) override;
  void ValidateTypes() const override { operand_->ValidateTypes(); }
  bool IsConstant() override { return operand_->IsConstant(); }
  bool IsSameValueExpr2(SQLVTSCValueExpr const *other) const override { return other->IsSameCast(this); }
  bool IsSameCast(SQLVTSCCast const *other) const override;

 private:
  std::unique_ptr<SQLVTSCValueExpr> operand_;
  SQLType type_;
};
