// SQLVTSCParameterRef: a statement parameter in the validated tree.
//
// A parameter takes its type from its first use: the first Cast of an
// untyped parameter gives it the asked type. A type given under tolerance
// (a REAL where an INTEGER would do) stays tentative, so that a later use
// may still narrow it to INTEGER; the parameter's open-numeric flag holds
// that mark.
#pragma once

#include "sql/validate/vt_value_expr.h"

class SQLParameter;

class SQLVTSCParameterRef : public SQLVTSCValueExpr {
 public:
  explicit SQLVTSCParameterRef(SQLParameter *parameter) : parameter_(parameter) {}  // not owned

  SQLParameter *GetParameter() const { return parameter_; }

  SQLVTSCValueExpr *Cast(SQLType type, bool tolerant) override;
  SQLVTSCValueExpr *Copy() override { return new SQLVTSCParameterRef(parameter_); }
  SQLRSSCValueExpr *CreateRS() override;
  // Every scalar type: a parameter can be bound as anything.
  void GetPossibleTypes(SQLTypeSet *types) override;
  void Log() const override;
  void MapColumnIds(int, SQLColumnIdMappingList *) override {}
  SQLVTSCValueExpr *MapColumnNamesToIds(SQLVTScope *, SQLVTreeData *, int, SQLVTWhereUsedMgr *,
                                        bool) override {
    return this;
  }
  bool IsConstant() override { return true; }
  bool IsSameValueExpr2(SQLVTSCValueExpr const *other) const override {
    return other->IsSameParameterRef(this);
  }
  bool IsSameParameterRef(SQLVTSCParameterRef const *other) const override;

 private:
  SQLParameter *parameter_;  // owned by the statement
};
