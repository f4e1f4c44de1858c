// SQLVTGroupSpec: one output column of a grouping: a grouping column (the
// child's column), a set function over an argument, or COUNT(*). A copy
// shares the argument.
#pragma once

#include "sql/common/ref_ptr.h"
#include "sql/validate/set_func_spec.h"
#include "sql/validate/vt_value_expr.h"

class SQLVTGroupSpec {
 public:
  enum Kind : int { GroupingColumn = 0, SetFunction = 1, CountStar = 2 };

  // A grouping column: the child's column.
  static SQLVTGroupSpec Column(int column) { return SQLVTGroupSpec(GroupingColumn, column, SQL_SETFUNC_COUNT, {}); }
  // A set function over an argument; a null argument is COUNT(*).
  static SQLVTGroupSpec Function(SQLSetFuncSpec function, RefPtr<SQLVTSCValueExpr> argument) {
    if (!argument) return SQLVTGroupSpec(CountStar, -1, SQL_SETFUNC_COUNT, {});
    return SQLVTGroupSpec(SetFunction, -1, function, argument);
  }

  Kind GetKind() const { return kind_; }
  int GetColumn() const { return column_; }
  SQLSetFuncSpec GetFunction() const { return function_; }
  RefPtr<SQLVTSCValueExpr> const &GetExpression() const { return expression_; }
  void SetExpression(RefPtr<SQLVTSCValueExpr> const &e) { expression_ = e; }

  // The same output column: equal kinds and, for a grouping column, equal
  // columns; for a set function, equal functions over the same argument.
  bool Equals(SQLVTGroupSpec const &other) const;
  // "GroupSpec(" column | function "(" argument ")" | "COUNT(*)" ")".
  void Log() const;

 private:
  SQLVTGroupSpec(Kind kind, int column, SQLSetFuncSpec function, RefPtr<SQLVTSCValueExpr> expression)
      : expression_(expression), column_(column), kind_(kind), function_(function) {}

  RefPtr<SQLVTSCValueExpr> expression_;  // the argument (SetFunction only)
  int column_;                           // the child's column (GroupingColumn only)
  Kind kind_;
  SQLSetFuncSpec function_;              // SetFunction only
};
