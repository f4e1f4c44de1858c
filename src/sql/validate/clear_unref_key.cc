#include "sql/validate/clear_unref_key.h"

#include "sql/common/sql_logger.h"
#include "sql/exec/sc_value_expr.h"
#include "sql/validate/vtsc_row_value.h"
#include "sql/validate/vtsc_support.h"

SQLVTClearUnrefKey::SQLVTClearUnrefKey(int id, SQLVTSCRowValueConstr *foreignKey)
    : id_(id), foreignKey_(foreignKey) {}

SQLVTClearUnrefKey::~SQLVTClearUnrefKey() = default;

List<SQLRSSCValueExpr *> *SQLVTClearUnrefKey::CreateRS() const {
  if (!foreignKey_) return new List<SQLRSSCValueExpr *>();
  return foreignKey_->CreateRSValueExprList();
}

void SQLVTClearUnrefKey::Log() const {
  if (!SQLVTTracing()) return;
  SQLLogger &log = *SQLLogger::Instance();
  log << "ClearUnrefKey(" << id_ << ", ";
  if (foreignKey_) {
    foreignKey_->Log();
  } else {
    log << "NULL";
  }
  log << ")";
}
