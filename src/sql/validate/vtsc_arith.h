// The two-operand operators of the validated tree: + - * / \ (modulo) and
// & (concatenation).
//
// Typing is driven by two tables per operator. The rules say which result
// each pair of operand types gives (GetPossibleTypes); the preference rows,
// in order, say which operand types to choose when a parent asks for one
// result type (Cast). When two preference rows fit a date, timestamp or
// interval result (1 + 2 asked as DATE), the operator is computed as REAL
// and reinterpreted.
//
// A chain of these operators, a + b - c ... of any length, nests down its
// left operands; the parser counts it as one level of a statement's depth.
// So every pass over an operator walks the chain below it in a loop over
// its left spine (Spine), bottom-up where the operands come first, and
// recurses only into the right operands and the chain's first term. The
// executable tree walks its own chains the same way (SQLRSSCDyadic).
#pragma once

#include <memory>
#include <vector>

#include "sql/validate/vt_value_expr.h"

// One row of a typing table: left type, right type, result type.
struct SQLVTSCTypeRule {
  SQLType left;
  SQLType right;
  SQLType result;
};

class SQLVTSCDyadicOperator : public SQLVTSCValueExpr {
 public:
  // Deletes the chain below without recursing down it.
  ~SQLVTSCDyadicOperator() override;

  SQLVTSCValueExpr *GetLeft() const { return left_.get(); }
  SQLVTSCValueExpr *GetRight() const { return right_.get(); }
  virtual char const *GetOperatorSymbol() const = 0;

  SQLVTSCValueExpr *Cast(SQLType type, bool tolerant) override;
  // Null when an operand cannot be copied; copies carry no line numbers.
  SQLVTSCValueExpr *Copy() override;
  SQLRSSCValueExpr *CreateRS() override;
  void GetPossibleTypes(SQLTypeSet *types) override;
  // Writes "<Name>(" left "," right ")".
  void Log() const override;
  void MapColumnIds(int level, SQLColumnIdMappingList *mappings) override;
  SQLVTSCValueExpr *MapColumnNamesToIds(SQLVTScope *scope, SQLVTreeData *treeData, int flags,
                                        SQLVTWhereUsedMgr *whereUsed, bool inExpression) override;
  void ValidateTypes() const override;
  void ValidateArrayUsage() const override;

 protected:
  // Takes ownership of both operands; the tables are static.
  SQLVTSCDyadicOperator(SQLVTSCValueExpr *left, SQLVTSCValueExpr *right, SQLVTSCTypeRule const *rules,
                        int nrRules, SQLVTSCTypeRule const *preferences, int nrPreferences);
  // Both operands are the same as those of other, an operator of this
  // one's class.
  bool SameOperands(SQLVTSCDyadicOperator const *other) const;
  // "Add(" and the like, for Log.
  virtual char const *LogWord() const = 0;
  // An operator of this one's class, and its executable form, over the
  // operands given (both taken).
  virtual SQLVTSCDyadicOperator *NewLike(std::unique_ptr<SQLVTSCValueExpr> &&left,
                                         std::unique_ptr<SQLVTSCValueExpr> &&right) const = 0;
  virtual SQLRSSCValueExpr *NewRS(std::unique_ptr<SQLRSSCValueExpr> &&left,
                                  std::unique_ptr<SQLRSSCValueExpr> &&right) const = 0;

 private:
  // expr when it is an operator that continues a chain, else null.
  static SQLVTSCDyadicOperator *Link(SQLVTSCValueExpr *expr);
  // This operator and the operators down its left spine, this one first;
  // the last one's left operand is the chain's first term.
  std::vector<SQLVTSCDyadicOperator *> Spine() const;
  // Adds the result types of the operand types to *types; throws 42T08
  // when *types stays empty.
  void AddResultTypes(SQLTypeSet const &left, SQLTypeSet const &right, SQLTypeSet *types) const;
  // The one preference row giving type from the operand types; null when
  // none or several fit (*ambiguous tells which).
  SQLVTSCTypeRule const *Prefer(SQLType type, SQLTypeSet const &left, SQLTypeSet const &right,
                                bool *ambiguous) const;

  std::unique_ptr<SQLVTSCValueExpr> left_;
  std::unique_ptr<SQLVTSCValueExpr> right_;
  SQLVTSCTypeRule const *rules_;
  int nrRules_;
  SQLVTSCTypeRule const *preferences_;
  int nrPreferences_;
};

#define SQLVT_DYADIC_OPERATOR(Name)                                                            \
  class SQLVTSC##Name : public SQLVTSCDyadicOperator {                                         \
   public:                                                                                    \
    SQLVTSC##Name(SQLVTSCValueExpr *left, SQLVTSCValueExpr *right);                           \
    char const *GetOperatorSymbol() const override;                                           \
    bool IsSameValueExpr2(SQLVTSCValueExpr const *other) const override {                     \
      return other->IsSame##Name(this);                                                       \
    }                                                                                         \
    bool IsSame##Name(SQLVTSC##Name const *other) const override {                            \
      return SameOperands(other);                                                             \
    }                                                                                         \
                                                                                              \
   protected:                                                                                 \
    char const *LogWord() const override;                                                     \
    SQLVTSCDyadicOperator *NewLike(std::unique_ptr<SQLVTSCValueExpr> &&left,                  \
                                   std::unique_ptr<SQLVTSCValueExpr> &&right) const override; \
    SQLRSSCValueExpr *NewRS(std::unique_ptr<SQLRSSCValueExpr> &&left,                         \
                            std::unique_ptr<SQLRSSCValueExpr> &&right) const override;        \
  };

SQLVT_DYADIC_OPERATOR(Add)
SQLVT_DYADIC_OPERATOR(Subtract)
SQLVT_DYADIC_OPERATOR(Multiply)
SQLVT_DYADIC_OPERATOR(Divide)
SQLVT_DYADIC_OPERATOR(Modulo)
SQLVT_DYADIC_OPERATOR(Concatenate)

#undef SQLVT_DYADIC_OPERATOR
