// SQLRSGroupSpec: one output column of a grouping, as the optimiser hands it
// down (PushGroup) and the group row source computes it: a grouping column
// of the child, a set function over an argument, or COUNT(*). A copy shares
// the argument expression (its reference count grows by one).
#pragma once

#include "sql/common/ref_ptr.h"
#include "sql/exec/sc_value_expr.h"

class SQLRSGroupSpec {
 public:
  // Kinds.
  static constexpr int kGroupingColumn = 0;
  static constexpr int kSetFunction = 1;
  static constexpr int kCountStar = 2;
  // Set functions of kind 1.
  static constexpr int kMin = 0;
  static constexpr int kMax = 1;
  static constexpr int kSum = 2;
  static constexpr int kAvg = 3;
  static constexpr int kCount = 4;

  SQLRSGroupSpec() = default;
  SQLRSGroupSpec(RefPtr<SQLRSSCValueExpr> expression, int column, int kind, int function)
      : expression_(expression), column_(column), kind_(kind), function_(function) {}

  // A grouping column delivered as output.
  static SQLRSGroupSpec Column(int column) { return SQLRSGroupSpec({}, column, kGroupingColumn, 0); }

  RefPtr<SQLRSSCValueExpr> const &GetExpression() const { return expression_; }
  int GetColumn() const { return column_; }
  int GetKind() const { return kind_; }
  int GetFunction() const { return function_; }

  // "GroupSpec(" column | function "(" argument ")" | "COUNT(*)" ")".
  void Log() const;

 private:
  RefPtr<SQLRSSCValueExpr> expression_;  // the argument (kind 1 only)
  int column_ = -1;                      // the child's column (kind 0 only)
  int kind_ = kGroupingColumn;
  int function_ = 0;                     // kind 1 only
};
