// Positional operations of the validated tree.
//
// SQLVTSCIndexing is the element of an array column: the parser builds it
// for x[...] forms and name resolution for a name written name(n).
#pragma once

#include <memory>

#include "sql/validate/vt_value_expr.h"

class SQLVTSCIndexing : public SQLVTSCValueExpr {
 public:
  // Takes ownership of both.
  SQLVTSCIndexing(SQLVTSCValueExpr *array, SQLVTSCValueExpr *index) : array_(array), index_(index) {}

  SQLVTSCValueExpr *GetArray() const { return array_.get(); }
  SQLVTSCValueExpr *GetIndex() const { return index_.get(); }

  // The element keeps the array's type: the index is cast to INTEGER and
  // the node stays; any type the array cannot give is a conflict (42T10).
  SQLVTSCValueExpr *Cast(SQLType type, bool tolerant) override;
  SQLVTSCValueExpr *Copy() override;
  SQLRSSCValueExpr *CreateRS() override;
  void GetPossibleTypes(SQLTypeSet *types) override { array_->GetPossibleTypes(types); }
  void Log() const override;
  void MapColumnIds(int level, SQLColumnIdMappingList *mappings) override;
  SQLVTSCValueExpr *MapColumnNamesToIds(SQLVTScope *scope, SQLVTreeData *treeData, int flags,
                                        SQLVTWhereUsedMgr *whereUsed, bool inExpression) override;
  void ValidateTypes() const override;
  void ValidateArrayUsage() const override;
  bool IsSameValueExpr2(SQLVTSCValueExpr const *other) const override { return other->IsSameIndexing(this); }
  bool IsSameIndexing(SQLVTSCIndexing const *other) const override;

 private:
  std::unique_ptr<SQLVTSCValueExpr> array_;
  std::unique_ptr<SQLVTSCValueExpr> index_;
};
