// The scalar subquery of the validated tree: a query of one column whose
// single row gives the value (NULL without a row).
#pragma once

#include <memory>

#include "sql/validate/vt_value_expr.h"

class SQLVTNode;

class SQLVTSCScalarSubquery : public SQLVTSCValueExpr {
 public:
  // Takes ownership of query.
  explicit SQLVTSCScalarSubquery(SQLVTNode *query);
  ~SQLVTSCScalarSubquery() override;
  SQLVTSCScalarSubquery(SQLVTSCScalarSubquery const &) = delete;
  SQLVTSCScalarSubquery &operator=(SQLVTSCScalarSubquery const &) = delete;

  SQLVTNode *GetQuery() const { return query_.get(); }

  // The column's own type, or INTEGER where REAL is asked; anything else is
  // a type error (42T19). Returns the node itself.
  SQLVTSCValueExpr *Cast(SQLType type, bool tolerant) override;
  SQLVTSCValueExpr *Copy() override { return nullptr; }
  // An executable subquery over the query's row-source tree.
  SQLRSSCValueExpr *CreateRS() override;
  void GetPossibleTypes(SQLTypeSet *types) override;
  int GetDepth() const override;
  void Log() const override;
  // A broken invariant: the node never reaches a projection's remapping.
  void MapColumnIds(int level, SQLColumnIdMappingList *mappings) override;
  // Resolves the query in a level of its own (only flags 8 and 16 pass
  // in), which is popped afterwards; the query must yield one column.
  SQLVTSCValueExpr *MapColumnNamesToIds(SQLVTScope *scope, SQLVTreeData *treeData, int flags,
                                        SQLVTWhereUsedMgr *whereUsed, bool inExpression) override;
  void ValidateTypes() const override;
  void ValidateArrayUsage() const override;

 private:
  std::unique_ptr<SQLVTNode> query_;
};
