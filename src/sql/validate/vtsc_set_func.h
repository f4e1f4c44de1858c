// Set functions (MIN, MAX, SUM, AVG, COUNT) of the validated tree.
//
// A set function exists only between parsing and name resolution: name
// resolution asks the scope's grouping level for the aggregate column and
// puts a column reference to it in the function's place.
#pragma once

#include <memory>

#include "sql/validate/set_func_spec.h"
#include "sql/validate/vt_value_expr.h"

class SQLVTSCSetFuncSpec : public SQLVTSCValueExpr {
 public:
  // COUNT(*): no argument.
  explicit SQLVTSCSetFuncSpec(SQLSetFuncSpec function) : function_(function) {}
  // Takes ownership of argument.
  SQLVTSCSetFuncSpec(SQLSetFuncSpec function, SQLVTSCValueExpr *argument)
      : function_(function), argument_(argument) {}

  SQLSetFuncSpec GetFunction() const { return function_; }
  SQLVTSCValueExpr *GetArgument() const { return argument_.get(); }
  // The argument when it is a still unresolved identifier, else null.
  SQLVTSCIdentifier *GetColumnName();

  SQLVTSCValueExpr *Cast(SQLType, bool) override { return nullptr; }
  SQLVTSCValueExpr *Copy() override { return nullptr; }
  SQLRSSCValueExpr *CreateRS() override { return nullptr; }
  void GetPossibleTypes(SQLTypeSet *) override {}
  void Log() const override;
  void MapColumnIds(int, SQLColumnIdMappingList *) override {}
  // Resolves the argument, registers the aggregate with the grouping level
  // and returns a column reference to its result column; this node is
  // deleted. A set function inside the argument of another is refused.
  SQLVTSCValueExpr *MapColumnNamesToIds(SQLVTScope *scope, SQLVTreeData *treeData, int flags,
                                        SQLVTWhereUsedMgr *whereUsed, bool inExpression) override;
  bool IsSetFuncSpec() override { return true; }
  SQLVTSCSetFuncSpec *AsSetFuncSpec() override { return this; }

 private:
  SQLSetFuncSpec function_;
  // Owned alone until resolution; the resolved argument is then handed to
  // the grouping level in a counted reference, since the grouping node
  // keeps it too. Null for COUNT(*).
  std::unique_ptr<SQLVTSCValueExpr> argument_;
};
