#include "sql/validate/clear_unref_key.h"

#include "sql/common/sql_logger.h"
#include "sql/exec/sc_value_expr.h"
#include "sql/validate/vtsc_row_value.h"
#include "sql/validate/vtsc_support.h"

SQLVTClearUnrefKey::SQLVTClearUnrefKey(int id) : id_(id) {}

SQLVTClearUnrefKey::SQLVTClearUnrefKey(int id, SQLVTSCRowValueConstr *referring) : id_(id), referring_(referring) {}

SQLVTClearUnrefKey::~SQLVTClearUnrefKey() = default;

List<SQLRSSCValueExpr *> *SQLVTClearUnrefKey::CreateRS() const {
  if (!referring_) return new List<SQLRSSCValueExpr *>();
  return referring_->CreateRSValueExprList();
}

void SQLVTClearUnrefKey::Log() const {
  if (!SQLVTTracing()) return;
  SQLLogger &log = *SQLLogger::Instance();
  log << "ClearUnrefKey(" << id_ << ", ";
  if (referring_) {
    referring_->Log();
  } else {
    log << "NULL";
  }
  log << ")";
}
