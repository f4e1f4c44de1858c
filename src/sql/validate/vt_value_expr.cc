#include "sql/validate/vt_value_expr.h"

SQLTypeSet SQLVTSCValueExpr::GetPossibleTypeSet() {
  SQLTypeSet types;
  GetPossibleTypes(&types);
  return types;
}

bool SQLVTSCValueExpr::IsSameValueExpr2(SQLVTSCValueExpr const *) const { return false; }
