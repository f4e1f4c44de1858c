#include "sql/exec/sc_search_cond.h"

#include <algorithm>
#include <string_view>

#include "sql/agent/token_string.h"
#include "sql/common/sql_abort.h"
#include "sql/common/sql_exception.h"
#include "sql/common/sql_logger.h"
#include "sql/exec/visitor.h"
#include "sql/exec/visitors.h"

// ---- the base ----

SQLRSSCSearchCond::~SQLRSSCSearchCond() = default;

void SQLRSSCSearchCond::CollapseAnd(pSQLRSSCSearchCondList *list) {
  SQLRSSCSearchCondPtr self(this);
  list->Append(this);
  static_cast<void>(self.release());
}

_qp_expr_node *SQLRSSCSearchCond::createQPexprnode(SQLColumnRef2QDBColumnIdMap *, SQLRSFetchParameters *,
                                                   unsigned long) {
  SQLAbort(__FILE__, __LINE__, "Unexpected message %s::createQPexprnode", ClassName());
}

SQLRSSCSearchCond *SQLRSSCSearchCond::Copy() const {
  SQLAbort(__FILE__, __LINE__, "Non-implemented Copy message received");
}

bool SQLRSSCSearchCond::IsEqSearchCondition(int) const { return false; }

bool SQLRSSCSearchCond::FixedForExecution() {
  if (fixed_ < 0) {
    SQLIsConstantVisitor visitor;
    AcceptVisit(visitor);
    fixed_ = visitor.GetResult() ? 1 : 0;
  }
  return fixed_ == 1;
}

bool SQLRSSCSearchCond::LeavesNoRow() {
  if (!FixedForExecution()) return false;
  try {
    return Evaluate() != TV_TRUE;
  } catch (SQLException const &e) {
    if (!SQLRSSCRowError(e)) throw;
    // Evaluated here, the condition would fail the statement even when no
    // row reaches it; the first row that does fails it instead.
    return false;
  }
}
void SQLRSSCSearchCond::GetEqualColumns(int, std::vector<std::pair<int, int>> *) const {}
void SQLRSSCSearchCond::GetEqualTerms(int, std::vector<EqualTerms> *) {}

// ---- helpers ----

namespace {

// TRUE when an operand from `from` on evaluates to `value`; the operands
// that fail count as not deciding.
bool AnyOperandIs(std::vector<SQLRSSCSearchCondPtr> const &operands, size_t from, SQLTruthValue value) {
  for (size_t i = from; i < operands.size(); ++i) {
    try {
      if (operands[i]->Evaluate() == value) return true;
    } catch (SQLException const &e) {
      if (!SQLRSSCRowError(e)) throw;
      // Another failing operand: it decides nothing.
    }
  }
  return false;
}

}  // namespace

bool SQLRSSCRowError(SQLException const &e) {
  char const *state = e.GetSQLState();
  return (state[0] == '2' && state[1] == '2') || std::string_view(state) == "21000";
}

void SQLRSSCRowValueCost(std::vector<SQLRSSCValueExprPtr> const &items, double *first, double *second) {
  *first = 0;
  *second = 0;
  double weight = 1.0;
  for (size_t i = 0; i < items.size(); ++i) {
    SQLRSSCAddCost(items[i].get(), first, second, weight);
    weight = (i == 0) ? 0.5 : weight * weight;
  }
}

namespace {

// The elements of `list` as owners; the list and its elements are taken,
// also when memory runs out.
template <class T>
std::vector<std::unique_ptr<T>> TakeAll(List<T *> *list) {
  std::vector<std::unique_ptr<T>> items;
  if (list == nullptr) return items;
  std::unique_ptr<List<T *>> owned(list);
  try {
    items.reserve(static_cast<std::size_t>(list->NrElements()));
  } catch (...) {
    for (bool more = list->First(); more; more = list->Next()) delete list->GetCurrent();
    throw;
  }
  for (bool more = list->First(); more; more = list->Next()) items.emplace_back(list->GetCurrent());
  return items;
}

}  // namespace

std::vector<SQLRSSCValueExprPtr> SQLRSSCTakeList(pSQLRSSCValueExprList *list) { return TakeAll(list); }

std::vector<SQLRSSCSearchCondPtr> SQLRSSCTakeConjuncts(SQLRSSCSearchCond *condition) {
  pSQLRSSCSearchCondList list;
  std::vector<SQLRSSCSearchCondPtr> conjuncts;
  try {
    condition->CollapseAnd(&list);
    conjuncts.reserve(static_cast<std::size_t>(list.NrElements()));
  } catch (...) {
    for (bool more = list.First(); more; more = list.Next()) delete list.GetCurrent();
    throw;
  }
  for (bool more = list.First(); more; more = list.Next()) conjuncts.emplace_back(list.GetCurrent());
  return conjuncts;
}

SQLRSSCSearchCondPtr SQLRSSCConjunction(std::vector<SQLRSSCSearchCondPtr> parts) {
  if (parts.empty()) return nullptr;
  if (parts.size() == 1) return std::move(parts.front());
  return std::make_unique<SQLRSSCAnd>(std::move(parts));
}

void SQLRSSCTakeLists(std::initializer_list<std::pair<pSQLRSSCValueExprList *, std::vector<SQLRSSCValueExprPtr> *>> lists) {
  // Every list is owned here first; each one is moved into its target in
  // turn, and a failure frees those not yet taken.
  std::vector<std::unique_ptr<pSQLRSSCValueExprList>> owned;
  try {
    owned.reserve(lists.size());
  } catch (...) {
    for (auto const &[list, target] : lists) {
      static_cast<void>(target);
      if (list == nullptr) continue;
      for (bool more = list->First(); more; more = list->Next()) delete list->GetCurrent();
      delete list;
    }
    throw;
  }
  for (auto const &[list, target] : lists) {
    static_cast<void>(target);
    owned.emplace_back(list);
  }
  size_t i = 0;
  try {
    for (auto const &[list, target] : lists) {
      static_cast<void>(list);
      *target = SQLRSSCTakeList(owned[i].release());
      ++i;
    }
  } catch (...) {
    for (++i; i < owned.size(); ++i) {
      if (owned[i] == nullptr) continue;
      for (bool more = owned[i]->First(); more; more = owned[i]->Next()) delete owned[i]->GetCurrent();
    }
    throw;
  }
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

SQLRSSCLogical::SQLRSSCLogical(pSQLRSSCSearchCondList *list) : operands_(TakeAll(list)) {}

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
  SQLRSSCSearchCondPtr self(this);
  for (auto &op : operands_) op.reset(op.release()->Optimize());
  struct Keyed {
    double first, second;
    SQLRSSCSearchCondPtr cond;
  };
  std::vector<Keyed> keyed;
  keyed.reserve(operands_.size());
  for (auto &op : operands_) {
    Keyed k{0, 0, nullptr};
    op->Cost(&k.first, &k.second);
    k.cond = std::move(op);
    keyed.push_back(std::move(k));
  }
  std::stable_sort(keyed.begin(), keyed.end(), [](Keyed const &a, Keyed const &b) {
    return a.first < b.first || (a.first == b.first && a.second < b.second);
  });
  for (size_t i = 0; i < keyed.size(); ++i) operands_[i] = std::move(keyed[i].cond);
  return self.release();
}

void SQLRSSCLogical::createTokenString(SQLTokenString *ts, int level, SQLRSNetFetchParams *params) {
  ts->AppendNestedList(Token(), static_cast<int>(operands_.size()),
                       [&](int i) { operands_[static_cast<size_t>(i)]->createTokenString(ts, level, params); });
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
  SQLRSSCSearchCondPtr second(b);
  std::vector<SQLRSSCSearchCondPtr> left = SQLRSSCTakeConjuncts(a);
  std::vector<SQLRSSCSearchCondPtr> right = SQLRSSCTakeConjuncts(second.release());
  operands_.reserve(left.size() + right.size());
  for (auto &op : left) operands_.push_back(std::move(op));
  for (auto &op : right) operands_.push_back(std::move(op));
}

SQLRSSCAnd::SQLRSSCAnd(pSQLRSSCSearchCondList *list) : SQLRSSCLogical(list) {}

SQLTruthValue SQLRSSCAnd::Evaluate() {
  SQLTruthValue result = TV_TRUE;
  for (size_t i = 0; i < operands_.size(); ++i) {
    try {
      result = TVAnd(result, operands_[i]->Evaluate());
    } catch (SQLException const &e) {
      if (!SQLRSSCRowError(e)) throw;
      // A FALSE operand decides the row whatever the others raise, in
      // whichever order they run here or in a driver.
      if (AnyOperandIs(operands_, i + 1, TV_FALSE)) return TV_FALSE;
      throw;
    }
    if (result == TV_FALSE) break;
  }
  return result;
}

bool SQLRSSCAnd::LeavesNoRow() {
  for (auto &op : operands_)
    if (op->LeavesNoRow()) return true;
  return false;
}

SQLTruthValueSet SQLRSSCAnd::PossibleValuesOnNullifiedCols(int level, List<Interval<int>> *intervals) {
  if (operands_.empty()) return SQLRSSCTruthSet(TV_TRUE);
  SQLTruthValueSet set = operands_[0]->PossibleValuesOnNullifiedCols(level, intervals);
  for (size_t i = 1; i < operands_.size(); ++i)
    set = set.And(operands_[i]->PossibleValuesOnNullifiedCols(level, intervals));
  return set;
}

void SQLRSSCAnd::CollapseAnd(pSQLRSSCSearchCondList *list) {
  SQLRSSCSearchCondPtr self(this);  // frees the operands not yet appended when Append fails
  for (auto &op : operands_) {
    list->Append(op.get());
    static_cast<void>(op.release());
  }
}

SQLRSSCSearchCond *SQLRSSCAnd::Copy() const {
  std::vector<SQLRSSCSearchCondPtr> copies;
  copies.reserve(operands_.size());
  for (auto const &op : operands_) copies.emplace_back(op->Copy());
  return new SQLRSSCAnd(std::move(copies));
}

bool SQLRSSCAnd::CanCopy() const {
  for (auto const &op : operands_)
    if (!op->CanCopy()) return false;
  return true;
}

bool SQLRSSCAnd::IsEqSearchCondition(int n) const {
  for (auto const &op : operands_)
    if (!op->IsEqSearchCondition(n)) return false;
  return true;
}

void SQLRSSCAnd::GetEqualColumns(int n, std::vector<std::pair<int, int>> *pairs) const {
  for (auto const &op : operands_) op->GetEqualColumns(n, pairs);
}

void SQLRSSCAnd::GetEqualTerms(int n, std::vector<EqualTerms> *pairs) {
  for (auto const &op : operands_) op->GetEqualTerms(n, pairs);
}

void SQLRSSCAnd::VisitSelf(SQLVisitor &visitor) { visitor.VisitSQLRSSCAnd(this); }

SQLRSSCOr::SQLRSSCOr(SQLRSSCSearchCond *a, SQLRSSCSearchCond *b) {
  SQLRSSCSearchCondPtr first(a), second(b);
  operands_.reserve(2);
  operands_.push_back(std::move(first));
  operands_.push_back(std::move(second));
}

SQLRSSCOr::SQLRSSCOr(pSQLRSSCSearchCondList *list) : SQLRSSCLogical(list) {}

SQLTruthValue SQLRSSCOr::Evaluate() {
  SQLTruthValue result = TV_FALSE;
  for (size_t i = 0; i < operands_.size(); ++i) {
    try {
      result = TVOr(result, operands_[i]->Evaluate());
    } catch (SQLException const &e) {
      if (!SQLRSSCRowError(e)) throw;
      // A TRUE operand decides the row whatever the others raise.
      if (AnyOperandIs(operands_, i + 1, TV_TRUE)) return TV_TRUE;
      throw;
    }
    if (result == TV_TRUE) break;
  }
  return result;
}

bool SQLRSSCOr::LeavesNoRow() {
  for (auto &op : operands_)
    if (!op->LeavesNoRow()) return false;
  return true;
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
  SQLRSSCSearchCondPtr self(this);
  operand_.reset(operand_.release()->Optimize());
  return self.release();
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
