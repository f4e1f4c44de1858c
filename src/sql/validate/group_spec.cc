#include "sql/validate/group_spec.h"

#include "sql/common/sql_logger.h"

bool SQLVTGroupSpec::Equals(SQLVTGroupSpec const &other) const {
  if (kind_ != other.kind_) return false;
  switch (kind_) {
    case GroupingColumn:
      return column_ == other.column_;
    case CountStar:
      return true;
    case SetFunction:
      return function_ == other.function_ &&
             (expression_.Get() == other.expression_.Get() ||
              expression_->IsSameValueExpr2(other.expression_.Get()));
  }
  return false;
}

void SQLVTGroupSpec::Log() const {
  SQLLogger &log = *SQLLogger::Instance();
  log << "GroupSpec(";
  if (kind_ == GroupingColumn) {
    log << column_;
  } else if (kind_ == CountStar) {
    log << "COUNT(*)";
  } else {
    static char const *const kNames[] = {"MIN(", "MAX(", "SUM(", "AVG(", "COUNT("};
    int f = static_cast<int>(function_);
    log << (f >= 0 && f <= 4 ? kNames[f] : "?(");
    expression_->Log();
    log << ")";
  }
  log << ")";
}
