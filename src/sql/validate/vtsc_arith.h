// The two-operand operators of the validated tree: + - * / \ (modulo) and
// & (concatenation).
//
// Typing is driven by two tables per operator. The rules say which result
// each pair of operand types gives (GetPossibleTypes); the preference rows,
// in order, say which operand types to choose when a parent asks for one
// result type (Cast). When two preference rows fit a date, timestamp or
// interval result (1 + 2 asked as DATE), the operator is computed as REAL
// and reinterpreted.
#pragma once

#include <memory>

#include "sql/validate/vt_value_expr.h"

// One row of a typing table: left type, right type, result type.
struct SQLVTSCTypeRule {
  SQLType left;
  SQLType right;
  SQLType result;
};

class SQLVTSCDyadicOperator : public SQLVTSCValueExpr {
 public:
  SQLVTSCValueExpr *GetLeft() const { return left_.get(); }
  SQLVTSCValueExpr *GetRight() const { return right_.get(); }
  virtual char const *GetOperatorSymbol() const = 0;

  SQLVTSCValueExpr *Cast(SQLType type, bool tolerant) override;
  void GetPossibleTypes(SQLTypeSet *types) override;
  void MapColumnIds(int level, SQLColumnIdMappingList *mappings) override;
  SQLVTSCValueExpr *MapColumnNamesToIds(SQLVTScope *scope, SQLVTreeData *treeData, int flags,
                                        SQLVTWhereUsedMgr *whereUsed, bool inExpression) override;
  void ValidateTypes() const override;
  void ValidateArrayUsage() const override;

 protected:
  // Takes ownership of both operands; the tables are static.
  SQLVTSCDyadicOperator(SQLVTSCValueExpr *left, SQLVTSCValueExpr *right, SQLVTSCTypeRule const *rules,
                        int nrRules, SQLVTSCTypeRule const *preferences, int nrPreferences);
  // Writes "<word>" left "," right ")".
  void LogOperands(char const *word) const;
  // Both operands are the same as those of other.
  bool SameOperands(SQLVTSCDyadicOperator const *other) const;
  // Copies of both operands; nulls when either cannot be copied.
  bool CopyOperands(std::unique_ptr<SQLVTSCValueExpr> *left, std::unique_ptr<SQLVTSCValueExpr> *right) const;
  // The executable operands, left first.
  void CreateOperands(std::unique_ptr<SQLRSSCValueExpr> *left, std::unique_ptr<SQLRSSCValueExpr> *right) const;

 private:
  std::unique_ptr<SQLVTSCValueExpr> left_;
  std::unique_ptr<SQLVTSCValueExpr> right_;
  SQLVTSCTypeRule const *rules_;
  int nrRules_;
  SQLVTSCTypeRule const *preferences_;
  int nrPreferences_;
};

#define SQLVT_DYADIC_OPERATOR(Name)                                                   \
  class SQLVTSC##Name : public SQLVTSCDyadicOperator {                                \
   public:                                                                           \
    SQLVTSC##Name(SQLVTSCValueExpr *left, SQLVTSCValueExpr *right);                  \
    char const *GetOperatorSymbol() const override;                                  \
    SQLVTSCValueExpr *Copy() override;                                               \
    SQLRSSCValueExpr *CreateRS() override;                                           \
    void Log() const override;                                                       \
    bool IsSameValueExpr2(SQLVTSCValueExpr const *other) const override {            \
      return other->IsSame##Name(this);                                              \
    }                                                                                \
    bool IsSame##Name(SQLVTSC##Name const *other) const override {                   \
      return SameOperands(other);                                                    \
    }                                                                                \
  };

SQLVT_DYADIC_OPERATOR(Add)
SQLVT_DYADIC_OPERATOR(Subtract)
SQLVT_DYADIC_OPERATOR(Multiply)
SQLVT_DYADIC_OPERATOR(Divide)
SQLVT_DYADIC_OPERATOR(Modulo)
SQLVT_DYADIC_OPERATOR(Concatenate)

#undef SQLVT_DYADIC_OPERATOR
