#include "sql/validate/vt_retry_filter.h"

#include <vector>

#include "sql/common/sql_abort.h"
#include "sql/common/sql_logger.h"
#include "sql/exec/rs_filter.h"
#include "sql/validate/vt_node_support.h"
#include "sql/validate/vtsc_column_ref.h"
#include "sql/validate/vtsc_comparison.h"
#include "sql/validate/vtsc_connectives.h"
#include "sql/validate/vtsc_parameter.h"
#include "sql/validate/vtsc_row_value.h"
#include "sql/validate/vtsc_support.h"

SQLVTRetryFilter::~SQLVTRetryFilter() = default;

SQLVTRetryFilter *SQLVTRetryFilter::BuildRetryFilter(SQLRetryClauseType, SQLRetrySpecList *) {
  SQLAbort(__FILE__, __LINE__, "SQLVTRetryFilter::BuildRetryFilter() called");
}

SQLRowSource *SQLVTRetryFilter::DoCreateRS() {
  SQLRowSource *rs = GetChild()->CreateRS();
  if (!active_ || !condition_) return rs;
  std::unique_ptr<SQLRowSource> child(rs);
  std::unique_ptr<SQLRSSCSearchCond> condition(condition_->CreateRS());
  return new SQLRSFilter(child.release(), condition.release());
}

void SQLVTRetryFilter::Log() const {
  bool tracing = SQLVTTracing();
  SQLLogger &log = *SQLLogger::Instance();
  if (tracing) {
    log << "VTRetryFilter(" << endl << incind;
    log << (active_ ? "Filter is activated" : "Filter is deactivated") << endl;
    log << "SearchCond: ";
    if (!condition_) log << "-- none --";
  }
  if (condition_) condition_->Log();
  if (tracing) log << endl;
  LogHintsAndChild("Child: ");
  if (tracing) log << decind << ")" << endl;
}

void SQLVTRetryFilter::ValidateTypes() const {
  GetChild()->ValidateTypes();
  if (condition_) condition_->ValidateTypes();
}

void SQLVTRetryFilter::ValidateArrayUsage() const {
  GetChild()->ValidateArrayUsage();
  if (condition_) condition_->ValidateArrayUsage();
}

namespace {

struct RetryKey {
  int columnId;
  int direction;
  SQLParameter *parameter;
};

// A one-element row value over e (taken over).
SQLVTSCRowValueConstr *Row(SQLVTSCValueExpr *e) {
  std::unique_ptr<SQLVTSCValueExpr> owned(e);
  auto row = std::make_unique<SQLVTSCGenericRowValueConstr>();
  row->Append(e);
  static_cast<void>(owned.release());
  return row.release();
}

// column op parameter for one key.
SQLVTSCSearchCond *Compare(SQLVTNode const *child, RetryKey const &key, SQLVTSCCompOperator op) {
  std::unique_ptr<SQLVTSCRowValueConstr> left(
      Row(new SQLVTSCColumnRef(0, key.columnId, child->GetColumnDescriptor(key.columnId))));
  std::unique_ptr<SQLVTSCRowValueConstr> right(Row(new SQLVTSCParameterRef(key.parameter)));
  auto *comparison = new SQLVTSCComparison(left.get(), op, right.get());
  static_cast<void>(left.release());
  static_cast<void>(right.release());
  return comparison;
}

SQLVTSCCompOperator Beyond(RetryKey const &key, bool inclusive) {
  bool descending = key.direction == 1;
  if (inclusive) return descending ? SQLVTSC_LESS_EQUAL : SQLVTSC_GREATER_EQUAL;
  return descending ? SQLVTSC_LESS : SQLVTSC_GREATER;
}

}  // namespace

SQLVTSCSearchCond *SQLVTBuildRetryCondition(SQLVTNode const *child, SQLRetryClauseType type,
                                            SQLRetrySpecList *specs) {
  std::vector<RetryKey> keys;
  for (bool more = specs->First(); more; more = specs->Next()) {
    SQLRetrySpec const &spec = specs->GetCurrent();
    keys.push_back({spec.columnId, spec.direction, spec.parameter});
  }
  if (keys.empty()) return nullptr;
  std::unique_ptr<SQLVTSCSearchCond> rest(Compare(child, keys.back(), Beyond(keys.back(), type == SQL_RETRY_INCLUSIVE)));
  for (auto k = keys.rbegin() + 1; k != keys.rend(); ++k) {
    std::unique_ptr<SQLVTSCSearchCond> equal(Compare(child, *k, SQLVTSC_EQUAL));
    auto both = std::make_unique<SQLVTSCAnd>(std::move(equal), std::move(rest));
    std::unique_ptr<SQLVTSCSearchCond> strict(Compare(child, *k, Beyond(*k, false)));
    rest = std::make_unique<SQLVTSCOr>(std::move(strict), std::move(both));
  }
  return rest.release();
}
