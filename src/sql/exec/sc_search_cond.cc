#include "sql/exec/sc_search_cond.h"

#include <algorithm>

#include "sql/agent/token_string.h"
#include "sql/common/sql_abort.h"
#include "sql/common/sql_logger.h"
#include "sql/exec/visitor.h"

// ---- the base ----

SQLRSSCSearchCond::~SQLRSSCSearchCond() = default;

void SQLRSSCSearchCond::CollapseAnd(pSQLRSSCSearchCondList *list) { list->Append(this); }

_qp_expr_node *SQLRSSCSearchCond::createQPexprnode(SQLColumnRef2QDBColumnIdMap *, SQLRSFetchParameters *,
                                                   unsigned long) {
  SQLAbort(__FILE__, __LINE__, "Unexpected message %s::createQPexprnode", ClassName());
}

SQLRSSCSearchCond *SQLRSSCSearchCond::Copy() const {
  SQLAbort(__FILE__, __LINE__, "Non-implemented Copy message received");
}

bool SQLRSSCSearchCond::IsEqSearchCondition(int) const { return false; }

// ---- helpers ----

void SQLRSSCRowValueCost(std::vector<SQLRSSCValueExprPtr> const &items, double *first, double *second) {
  *first = 0;
  *second = 0;
  double weight = 1.0;
  for (size_t i = 0; i < items.size(); ++i) {
    SQLRSSCAddCost(items[i].get(), first, second, weight);
    weight = (i == 0) ? 0.5 : weight * weight;
  }
}

std::vector<SQLRSSCValueExprPtr> SQLRSSCTakeList(pSQLRSSCValueExprList *list) {
  std::vector<SQLRSSCValueExprPtr> items;
  if (list == nullptr) return items;
  // The list and its expressions are taken, also when memory runs out.
  std::unique_ptr<pSQLRSSCValueExprList> owned(list);
  try {
    items.reserve(static_cast<std::size_t>(list->NrElements()));
  } catch (...) {
    for (bool more = list->First(); more; more = list->Next()) delete list->GetCurrent();
    throw;
  }
  for (bool more = list->First(); more; more = list->Next()) items.emplace_back(list->GetCurrent());
  return items;
}

SQLTruthValueSet SQLRSSCTruthSet(SQLTruthValue a) {
  SQLTruthValueSet s;
  s.Insert(a);
  return s;
}

SQLTruthValueSet SQLRSSCTruthSet(SQLTruthValue a, SQLTruthValue b) {
  SQLTruthValueSet s;
  s.Insert(a, b);
  return s;
}

SQLTruthValueSet SQLRSSCTruthSet(SQLTruthValue a, SQLTruthValue b, SQLTruthValue c) {
  SQLTruthValueSet s;
  s.Insert(a, b, c);
  return s;
}

// ---- AND and OR ----

SQLRSSCLogical::SQLRSSCLogical(pSQLRSSCSearchCondList *list) {
  // The list and its conditions are taken, also when memory runs out.
  std::unique_ptr<pSQLRSSCSearchCondList> owned(list);
  try {
    operands_.reserve(static_cast<std::size_t>(list->NrElements()));
  } catch (...) {
    for (bool more = list->First(); more; more = list->Next()) delete list->GetCurrent();
    throw;
  }
  for (bool more = list->First(); more; more = list->Next()) operands_.emplace_back(list->GetCurrent());
}

void SQLRSSCLogical::Prepare(SQLRSPrepareContext *context) {
  for (auto &op : operands_) op->Prepare(context);
}

void SQLRSSCLogical::Reset() {
  for (auto &op : operands_) op->Reset();
}

void SQLRSSCLogical::Cost(double *first, double *second) {
  *first = 0;
  *second = 0;
  double weight = 1.0;
  for (size_t i = 0; i < operands_.size(); ++i) {
    double f = 0, s = 0;
    operands_[i]->Cost(&f, &s);
    *first += weight * f;
    *second += weight * s;
    weight = (i == 0) ? 0.5 : weight * weight;
  }
}

void SQLRSSCLogical::AcceptVisit(SQLVisitor &visitor) {
  for (auto &op : operands_) op->AcceptVisit(visitor);
  VisitSelf(visitor);
}

void SQLRSSCLogical::GetColumnRefs(int level, SQLRSSCColumnRefType type, pSQLRSSCColumnRefList *refs) {
  for (auto &op : operands_) op->GetColumnRefs(level, type, refs);
}

SQLRSSCSearchCond *SQLRSSCLogical::Optimize() {
  for (auto &op : operands_) {
    SQLRSSCSearchCond *optimized = op.release()->Optimize();
    op.reset(optimized);
  }
  struct Keyed {
    double first, second;
    SQLRSSCSearchCond *cond;
  };
  std::vector<Keyed> keyed;
  for (auto &op : operands_) {
    Keyed k{0, 0, op.release()};
    k.cond->Cost(&k.first, &k.second);
    keyed.push_back(k);
  }
  std::stable_sort(keyed.begin(), keyed.end(), [](Keyed const &a, Keyed const &b) {
    return a.first < b.first || (a.first == b.first && a.second < b.second);
  });
  for (size_t i = 0; i < keyed.size(); ++i) operands_[i].reset(keyed[i].cond);
  return this;
}

void SQLRSSCLogical::createTokenString(SQLTokenString *ts, int level, SQLRSNetFetchParams *params) {
  ts->AppendToken(Token());
  ts->AppendBs2(static_cast<std::int16_t>(operands_.size()));
  for (auto &op : operands_) op->createTokenString(ts, level, params);
}

void SQLRSSCLogical::CRefs2ParameterRefs(int level, intList *columns, pSQLParameterList *parameters) {
  for (auto &op : operands_) op->CRefs2ParameterRefs(level, columns, parameters);
}

void SQLRSSCLogical::Log() const {
  if (!SQLRSSCTracing()) return;
  SQLLogger &log = *SQLLogger::Instance();
  log << LogWord() << incind << endl;
  for (auto const &op : operands_) {
    op->Log();
    log << endl;
  }
  log << decind << ")";
}

SQLRSSCAnd::SQLRSSCAnd(SQLRSSCSearchCond *a, SQLRSSCSearchCond *b) {
  auto list = std::make_unique<pSQLRSSCSearchCondList>();
  try {
    a->CollapseAnd(list.get());
    a = nullptr;
    b->CollapseAnd(list.get());
    b = nullptr;
  } catch (...) {
    for (bool more = list->First(); more; more = list->Next()) delete list->GetCurrent();
    delete a;
    delete b;
    throw;
  }
  for (bool more = list->First(); more; more = list->Next()) operands_.emplace_back(list->GetCurrent());
}

SQLRSSCAnd::SQLRSSCAnd(pSQLRSSCSearchCondList *list) : SQLRSSCLogical(list) {}

SQLTruthValue SQLRSSCAnd::Evaluate() {
  SQLTruthValue result = TV_TRUE;
  for (auto &op : operands_) {
    result = TVAnd(result, op->Evaluate());
    if (result == TV_FALSE) break;
  }
  return result;
}

SQLTruthValueSet SQLRSSCAnd::PossibleValuesOnNullifiedCols(int level, List<Interval<int>> *intervals) {
  if (operands_.empty()) return SQLRSSCTruthSet(TV_TRUE);
  SQLTruthValueSet set = operands_[0]->PossibleValuesOnNullifiedCols(level, intervals);
  for (size_t i = 1; i < operands_.size(); ++i)
    set = set.And(operands_[i]->PossibleValuesOnNullifiedCols(level, intervals));
  return set;
}

void SQLRSSCAnd::CollapseAnd(pSQLRSSCSearchCondList *list) {
  for (auto &op : operands_) {
    list->Append(op.get());
    (void)op.release();
  }
  operands_.clear();
  delete this;
}

SQLRSSCSearchCond *SQLRSSCAnd::Copy() const {
  auto list = std::make_unique<pSQLRSSCSearchCondList>();
  try {
    for (auto const &op : operands_) list->Append(op->Copy());
  } catch (...) {
    for (bool more = list->First(); more; more = list->Next()) delete list->GetCurrent();
    throw;
  }
  return new SQLRSSCAnd(list.release());
}

bool SQLRSSCAnd::IsEqSearchCondition(int n) const {
  for (auto const &op : operands_)
    if (!op->IsEqSearchCondition(n)) return false;
  return true;
}

void SQLRSSCAnd::VisitSelf(SQLVisitor &visitor) { visitor.VisitSQLRSSCAnd(this); }

SQLRSSCOr::SQLRSSCOr(SQLRSSCSearchCond *a, SQLRSSCSearchCond *b) {
  // Both operands are taken, also when memory runs out.
  try {
    operands_.reserve(2);
  } catch (...) {
    delete a;
    delete b;
    throw;
  }
  operands_.emplace_back(a);
  operands_.emplace_back(b);
}

SQLRSSCOr::SQLRSSCOr(pSQLRSSCSearchCondList *list) : SQLRSSCLogical(list) {}

SQLTruthValue SQLRSSCOr::Evaluate() {
  SQLTruthValue result = TV_FALSE;
  for (auto &op : operands_) {
    result = TVOr(result, op->Evaluate());
    if (result == TV_TRUE) break;
  }
  return result;
}

SQLTruthValueSet SQLRSSCOr::PossibleValuesOnNullifiedCols(int level, List<Interval<int>> *intervals) {
  if (operands_.empty()) return SQLRSSCTruthSet(TV_FALSE);
  SQLTruthValueSet set = operands_[0]->PossibleValuesOnNullifiedCols(level, intervals);
  for (size_t i = 1; i < operands_.size(); ++i)
    set = set.Or(operands_[i]->PossibleValuesOnNullifiedCols(level, intervals));
  return set;
}

void SQLRSSCOr::VisitSelf(SQLVisitor &visitor) { visitor.VisitSQLRSSCOr(this); }

// ---- NOT ----

SQLRSSCNot::SQLRSSCNot(SQLRSSCSearchCond *operand) : operand_(operand) {}

void SQLRSSCNot::Cost(double *first, double *second) {
  operand_->Cost(first, second);
  *second += 1;
}

void SQLRSSCNot::AcceptVisit(SQLVisitor &visitor) {
  operand_->AcceptVisit(visitor);
  visitor.VisitSQLRSSCNot(this);
}

void SQLRSSCNot::GetColumnRefs(int level, SQLRSSCColumnRefType type, pSQLRSSCColumnRefList *refs) {
  operand_->GetColumnRefs(level, type, refs);
}

SQLTruthValueSet SQLRSSCNot::PossibleValuesOnNullifiedCols(int level, List<Interval<int>> *intervals) {
  return operand_->PossibleValuesOnNullifiedCols(level, intervals).Not();
}

SQLRSSCSearchCond *SQLRSSCNot::Optimize() {
  SQLRSSCSearchCond *optimized = operand_.release()->Optimize();
  operand_.reset(optimized);
  return this;
}

void SQLRSSCNot::createTokenString(SQLTokenString *ts, int level, SQLRSNetFetchParams *params) {
  ts->AppendToken(SQLNWTSCNot);
  operand_->createTokenString(ts, level, params);
}

void SQLRSSCNot::CRefs2ParameterRefs(int level, intList *columns, pSQLParameterList *parameters) {
  operand_->CRefs2ParameterRefs(level, columns, parameters);
}

void SQLRSSCNot::Log() const {
  if (!SQLRSSCTracing()) return;
  SQLLogger &log = *SQLLogger::Instance();
  log << "Not(" << incind << endl;
  operand_->Log();
  log << decind << endl << ")";
}
