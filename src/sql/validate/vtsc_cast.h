// SQLVTSCReinterpretCast: the cast that type validation inserts by itself
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
  SQLVTSCValueExpr *Copy() override { return nullptr; }
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
