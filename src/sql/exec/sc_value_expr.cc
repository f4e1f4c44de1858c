#include "sql/exec/sc_value_expr.h"

#include "sql/common/sql_abort.h"
#include "sql/common/sql_logger.h"
#include "sql/exec/visitors.h"

SQLRSSCValueExpr::~SQLRSSCValueExpr() = default;

_qp_operand *SQLRSSCValueExpr::createQPoperand(SQLColumnRef2QDBColumnIdMap *, SQLRSFetchParameters *,
                                               unsigned long) const {
  SQLAbort(__FILE__, __LINE__, "Unexpected message %s::createQPoperand", ClassName());
}

SQLRSSCValueExpr *SQLRSSCValueExpr::Copy() const {
  SQLAbort(__FILE__, __LINE__, "Non-implemented method SQLRSSCValueExpr::Copy() invoked");
}

bool SQLRSSCValueExpr::IsConstant() {
  SQLIsConstantVisitor visitor;
  AcceptVisit(visitor);
  return visitor.GetResult();
}

void SQLRSSCReplaceCRefs(SQLRSSCValueExprPtr *slot, int level, intList *columns,
                         pSQLParameterList *parameters) {
  SQLRSSCValueExpr *old = slot->get();
  if (old == nullptr) return;
  SQLRSSCValueExpr *replacement = old->CRefs2ParameterRefs(level, columns, parameters);
  if (replacement != old) {
    (void)slot->release();  // the old node deleted itself
    slot->reset(replacement);
  }
}

void SQLRSSCAddCost(SQLRSSCValueExpr *e, double *first, double *second, double weight) {
  if (e == nullptr) return;
  double f = 0, s = 0;
  e->Cost(&f, &s);
  *first += weight * f;
  *second += weight * s;
}

bool SQLRSSCTracing() { return SQLLogger::Instance()->LogFlagIsSet(SQLLogger::Always); }

void SQLRSSCLogOperand(char const *label, SQLRSSCValueExpr const *e) {
  SQLLogger &log = *SQLLogger::Instance();
  log << label;
  if (e)
    e->Log();
  else
    log << "NULL";
  log << endl;
}
