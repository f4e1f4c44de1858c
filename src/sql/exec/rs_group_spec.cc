#include "sql/exec/rs_group_spec.h"

#include "sql/common/sql_logger.h"

void SQLRSGroupSpec::Log() const {
  SQLLogger &log = *SQLLogger::Instance();
  log << "GroupSpec(";
  if (kind_ == kGroupingColumn) {
    log << column_;
  } else if (kind_ == kSetFunction) {
    static char const *const kNames[] = {"MIN(", "MAX(", "SUM(", "AVG(", "COUNT("};
    log << (function_ >= kMin && function_ <= kCount ? kNames[function_] : "?(");
    if (expression_) expression_->Log();
    log << ")";
  } else {
    log << "COUNT(*)";
  }
  log << ")";
}
