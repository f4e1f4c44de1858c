#include "sql/exec/sc_comparison.h"

#include <algorithm>
#include <new>

#include "sql/agent/token_string.h"
#include "sql/common/sql_abort.h"
#include "sql/common/sql_exception.h"
#include "sql/common/sql_logger.h"
#include "sql/exec/sc_column_ref.h"
#include "sql/exec/sc_const.h"
#include "sql/exec/visitor.h"

namespace {

using Items = std::vector<SQLRSSCValueExprPtr>;
using Stores = std::vector<SQLValueStore const *>;

Stores PrepareAll(Items &items, SQLRSPrepareContext *context) {
  Stores stores;
  for (auto &e : items) stores.push_back(e->Prepare(context));
  return stores;
}

void ResetAll(Items &items) {
  for (auto &e : items) e->Reset();
}

void OptimizeAll(Items &items) {
  for (auto &e : items) e->Optimize();
}

void VisitAll(Items &items, SQLVisitor &visitor) {
  for (auto &e : items) e->AcceptVisit(visitor);
}

void ColumnRefsOfAll(Items &items, int level, SQLRSSCColumnRefType type, pSQLRSSCColumnRefList *refs) {
  for (auto &e : items) e->GetColumnRefs(level, type, refs);
}

void ReplaceAll(Items &items, int level, intList *columns, pSQLParameterList *parameters) {
  for (auto &e : items) SQLRSSCReplaceCRefs(&e, level, columns, parameters);
}

void TokensOfAll(Items &items, SQLTokenString *ts, int level, SQLRSNetFetchParams *params) {
  for (auto &e : items) e->createTokenString(ts, level, params);
}

void LogAll(char const *label, Items const &items) {
  SQLLogger &log = *SQLLogger::Instance();
  log << label << incind << endl;
  for (auto const &e : items) SQLRSSCLogOperand("", e.get());
  log << decind << ")" << endl;
}

bool CertainlyNull(SQLRSSCValueExpr *e, int level, List<Interval<int>> *intervals) {
  return e->NullValueOnNullifiedCols(level, intervals) == TV_TRUE;
}

SQLCompOperator ValueOperator(SQLRSSCCompOperator op) {
  switch (op) {
    case SQLRSSC_EQUAL: return SQL_COMP_EQ;
    case SQLRSSC_NOT_EQUAL: return SQL_COMP_NE;
    case SQLRSSC_LESS_THAN: return SQL_COMP_LT;
    case SQLRSSC_GREATER_THAN: return SQL_COMP_GT;
    case SQLRSSC_LESS_THAN_OR_EQUAL: return SQL_COMP_LE;
    case SQLRSSC_GREATER_THAN_OR_EQUAL: return SQL_COMP_GE;
  }
  SQLAbort(__FILE__, __LINE__, "Unexpected operator %d", op);
}

// The column id of a reference of level 0, or -1 for anything else.
int LevelZeroColumn(SQLRSSCValueExpr const *e) {
  if (!e->IsColumnRef()) return -1;
  auto const *ref = static_cast<SQLRSSCColumnRef const *>(e);
  return ref->GetRelScopeLevel() == 0 ? ref->GetColumnId() : -1;
}

SQLRSSCValueExprPtr CopyOf(SQLRSSCValueExprPtr const &e) { return SQLRSSCValueExprPtr(e->Copy()); }

}  // namespace

char const *SQLRSSCCompOperatorName(SQLRSSCCompOperator op) {
  switch (op) {
    case SQLRSSC_EQUAL: return "EQUAL";
    case SQLRSSC_NOT_EQUAL: return "NOT_EQUAL";
    case SQLRSSC_LESS_THAN: return "LESS_THAN";
    case SQLRSSC_GREATER_THAN: return "GREATER_THAN";
    case SQLRSSC_LESS_THAN_OR_EQUAL: return "LESS_THAN_OR_EQUAL";
    case SQLRSSC_GREATER_THAN_OR_EQUAL: return "GREATER_THAN_OR_EQUAL";
  }
  SQLAbort(__FILE__, __LINE__, "Unexpected compOper %d", op);
}

// ---- comparison ----

SQLRSSCComparison::SQLRSSCComparison(pSQLRSSCValueExprList *left, SQLRSSCCompOperator op,
                                     pSQLRSSCValueExprList *right)
    : op_(op) {
  SQLRSSCTakeLists({{left, &left_}, {right, &right_}});
  if (left_.size() != right_.size())
    SQLAbort(__FILE__, __LINE__, "Comparison of row values of %zu and %zu elements", left_.size(),
             right_.size());
}

void SQLRSSCComparison::Prepare(SQLRSPrepareContext *context) {
  leftStores_ = PrepareAll(left_, context);
  rightStores_ = PrepareAll(right_, context);
}

SQLTruthValue SQLRSSCComparison::Evaluate() {
  SQLCompOperator op = ValueOperator(op_);
  if (op == SQL_COMP_EQ || op == SQL_COMP_NE) {
    SQLTruthValue result = TV_TRUE;
    for (size_t i = 0; i < left_.size(); ++i) {
      left_[i]->Evaluate();
      right_[i]->Evaluate();
      SQLTruthValue t = SQLValueStore::Compare(leftStores_[i], rightStores_[i], SQL_COMP_EQ);
      if (t == TV_FALSE) {
        result = TV_FALSE;
        break;
      }
      if (t == TV_UNKNOWN) result = TV_UNKNOWN;
    }
    return op == SQL_COMP_NE ? TVNot(result) : result;
  }
  for (size_t i = 0; i < left_.size(); ++i) {
    left_[i]->Evaluate();
    right_[i]->Evaluate();
    if (SQLValueStore::Compare(leftStores_[i], rightStores_[i], SQL_COMP_EQ) != TV_TRUE)
      return SQLValueStore::Compare(leftStores_[i], rightStores_[i], op);
  }
  return (op == SQL_COMP_LT || op == SQL_COMP_GT) ? TV_FALSE : TV_TRUE;
}

void SQLRSSCComparison::Reset() {
  ResetAll(left_);
  ResetAll(right_);
}

void SQLRSSCComparison::Cost(double *first, double *second) {
  double lf, ls, rf, rs;
  SQLRSSCRowValueCost(left_, &lf, &ls);
  SQLRSSCRowValueCost(right_, &rf, &rs);
  *first = lf + rf;
  *second = ls + rs;
}

void SQLRSSCComparison::AcceptVisit(SQLVisitor &visitor) {
  VisitAll(left_, visitor);
  VisitAll(right_, visitor);
  visitor.VisitSQLRSSCComparison(this);
}

void SQLRSSCComparison::GetColumnRefs(int level, SQLRSSCColumnRefType type, pSQLRSSCColumnRefList *refs) {
  ColumnRefsOfAll(left_, level, type, refs);
  ColumnRefsOfAll(right_, level, type, refs);
}

SQLTruthValueSet SQLRSSCComparison::PossibleValuesOnNullifiedCols(int level, List<Interval<int>> *intervals) {
  SQLTruthValueSet all = SQLRSSCTruthSet(TV_TRUE, TV_FALSE, TV_UNKNOWN);
  if (op_ != SQLRSSC_EQUAL && op_ != SQLRSSC_NOT_EQUAL) {
    if (left_.empty()) return all;
    bool null = CertainlyNull(left_[0].get(), level, intervals) || CertainlyNull(right_[0].get(), level, intervals);
    return null ? SQLRSSCTruthSet(TV_UNKNOWN) : all;
  }
  size_t nullPairs = 0;
  for (size_t i = 0; i < left_.size(); ++i)
    if (CertainlyNull(left_[i].get(), level, intervals) || CertainlyNull(right_[i].get(), level, intervals))
      ++nullPairs;
  SQLTruthValueSet set;
  if (nullPairs == left_.size())
    set = SQLRSSCTruthSet(TV_UNKNOWN);
  else if (nullPairs > 0)
    set = SQLRSSCTruthSet(TV_FALSE, TV_UNKNOWN);
  else
    set = all;
  return op_ == SQLRSSC_NOT_EQUAL ? set.Not() : set;
}

SQLRSSCSearchCond *SQLRSSCComparison::Optimize() {
  SQLRSSCSearchCondPtr self(this);  // freed when an operand throws
  OptimizeAll(left_);
  OptimizeAll(right_);
  return self.release();
}

void SQLRSSCComparison::createTokenString(SQLTokenString *ts, int level, SQLRSNetFetchParams *params) {
  switch (op_) {
    case SQLRSSC_EQUAL: ts->AppendToken(SQLNWTSCEquals); break;
    case SQLRSSC_NOT_EQUAL: ts->AppendToken(SQLNWTSCNotEquals); break;
    case SQLRSSC_LESS_THAN: ts->AppendToken(SQLNWTSCLessThan); break;
    case SQLRSSC_GREATER_THAN: ts->AppendToken(SQLNWTSCGreaterThan); break;
    case SQLRSSC_LESS_THAN_OR_EQUAL: ts->AppendToken(SQLNWTSCLessThanOrEquals); break;
    case SQLRSSC_GREATER_THAN_OR_EQUAL: ts->AppendToken(SQLNWTSCGreaterThanOrEquals); break;
    default: SQLAbort(__FILE__, __LINE__, "Unexpected oper %d", op_);
  }
  ts->AppendBs2(static_cast<std::int16_t>(left_.size()));
  TokensOfAll(left_, ts, level, params);
  TokensOfAll(right_, ts, level, params);
}

void SQLRSSCComparison::CRefs2ParameterRefs(int level, intList *columns, pSQLParameterList *parameters) {
  ReplaceAll(left_, level, columns, parameters);
  ReplaceAll(right_, level, columns, parameters);
}

void SQLRSSCComparison::Log() const {
  if (!SQLRSSCTracing()) return;
  SQLLogger &log = *SQLLogger::Instance();
  log << "Comparison " << SQLRSSCCompOperatorName(op_) << "(" << incind << endl;
  LogAll("(", left_);
  LogAll("(", right_);
  log << decind << ")";
}

bool SQLRSSCComparison::CanCopy() const {
  for (auto const *side : {&left_, &right_})
    for (auto const &e : *side)
      if (!e->CanCopy()) return false;
  return true;
}

SQLRSSCSearchCond *SQLRSSCComparison::Copy() const {
  auto left = std::make_unique<pSQLRSSCValueExprList>();
  auto right = std::make_unique<pSQLRSSCValueExprList>();
  Items l, r;
  for (auto const &e : left_) l.push_back(CopyOf(e));
  for (auto const &e : right_) r.push_back(CopyOf(e));
  for (auto &e : l) left->Append(e.get());
  for (auto &e : r) right->Append(e.get());
  // The comparison takes the lists and their copies over, also when its
  // constructor throws: from the allocation on, nothing is freed here.
  void *memory = ::operator new(sizeof(SQLRSSCComparison));
  for (auto &e : l) static_cast<void>(e.release());
  for (auto &e : r) static_cast<void>(e.release());
  try {
    return new (memory) SQLRSSCComparison(left.release(), op_, right.release());
  } catch (...) {
    ::operator delete(memory);
    throw;
  }
}

SQLRSSCComparison *SQLRSSCComparison::ColumnEquals(int column, SQLColumnDescriptor const *descriptor,
                                                   SQLRSSCConst const *constant) {
  auto left = std::make_unique<pSQLRSSCValueExprList>();
  auto right = std::make_unique<pSQLRSSCValueExprList>();
  SQLRSSCValueExprPtr l(new SQLRSSCColumnRef(0, column, descriptor));
  SQLRSSCValueExprPtr r(constant->Copy());
  left->Append(l.get());
  right->Append(r.get());
  // As in Copy: from the allocation on, the comparison owns the lists.
  void *memory = ::operator new(sizeof(SQLRSSCComparison));
  static_cast<void>(l.release());
  static_cast<void>(r.release());
  try {
    return new (memory) SQLRSSCComparison(left.release(), SQLRSSC_EQUAL, right.release());
  } catch (...) {
    ::operator delete(memory);
    throw;
  }
}

int SQLRSSCComparison::ColumnEqualToConstant(SQLRSSCConst const **constant) const {
  if (op_ != SQLRSSC_EQUAL || left_.size() != 1) return -1;
  for (int side = 0; side < 2; ++side) {
    SQLRSSCValueExpr const *column = (side == 0 ? left_ : right_)[0].get();
    auto const *other = dynamic_cast<SQLRSSCConst const *>((side == 0 ? right_ : left_)[0].get());
    int const id = LevelZeroColumn(column);
    if (id < 0 || other == nullptr) continue;
    *constant = other;
    return id;
  }
  return -1;
}

bool SQLRSSCComparison::IsEqSearchCondition(int n) const {
  if (op_ != SQLRSSC_EQUAL) return false;
  for (auto const &e : left_) {
    int id = LevelZeroColumn(e.get());
    if (id < 0 || id >= n) return false;
  }
  for (auto const &e : right_) {
    int id = LevelZeroColumn(e.get());
    if (id < n) return false;
  }
  return true;
}

void SQLRSSCComparison::GetEqualColumns(int n, std::vector<std::pair<int, int>> *pairs) const {
  if (op_ != SQLRSSC_EQUAL) return;
  for (size_t i = 0; i < left_.size(); ++i) {
    int a = LevelZeroColumn(left_[i].get());
    int b = LevelZeroColumn(right_[i].get());
    if (a < 0 || b < 0) continue;
    if (a < n && b >= n) pairs->emplace_back(a, b);
    if (b < n && a >= n) pairs->emplace_back(b, a);
  }
}

namespace {

// -1 when the term reads columns of the examined level below n only, 1
// when from n on only, 0 otherwise (none, both sides, a subquery, a row of
// an enclosing query).
int TermSide(SQLRSSCValueExpr *e, int n) {
  double dear = 0, plain = 0;
  e->Cost(&dear, &plain);
  if (dear > 0) return 0;
  pSQLRSSCColumnRefList outer, level;
  e->GetColumnRefs(0, SQL_CREF_OUTER, &outer);
  e->GetColumnRefs(0, SQL_CREF_LEVEL, &level);
  if (outer.NrElements() > 0 || level.NrElements() == 0) return 0;
  int side = 0;
  for (bool more = level.First(); more; more = level.Next()) {
    int const s = level.GetCurrent()->GetColumnId() < n ? -1 : 1;
    if (side != 0 && s != side) return 0;
    side = s;
  }
  return side;
}

}  // namespace

void SQLRSSCComparison::GetEqualTerms(int n, std::vector<EqualTerms> *pairs) {
  if (op_ != SQLRSSC_EQUAL) return;
  for (size_t i = 0; i < left_.size(); ++i) {
    int const l = TermSide(left_[i].get(), n);
    int const r = TermSide(right_[i].get(), n);
    SQLValueStore const *ls = i < leftStores_.size() ? leftStores_[i] : nullptr;
    SQLValueStore const *rs = i < rightStores_.size() ? rightStores_[i] : nullptr;
    if (l < 0 && r > 0) pairs->push_back({left_[i].get(), right_[i].get(), ls, rs});
    if (r < 0 && l > 0) pairs->push_back({right_[i].get(), left_[i].get(), rs, ls});
  }
}

// ---- BETWEEN ----

SQLRSSCBetween::SQLRSSCBetween(pSQLRSSCValueExprList *value, pSQLRSSCValueExprList *low,
                               pSQLRSSCValueExprList *high)
    : value_(), low_(), high_() {
  SQLRSSCTakeLists({{value, &value_}, {low, &low_}, {high, &high_}});
  if (low_.size() != value_.size() || high_.size() != value_.size())
    SQLAbort(__FILE__, __LINE__, "BETWEEN over row values of different lengths");
}

void SQLRSSCBetween::Prepare(SQLRSPrepareContext *context) {
  valueStores_ = PrepareAll(value_, context);
  lowStores_ = PrepareAll(low_, context);
  highStores_ = PrepareAll(high_, context);
}

SQLTruthValue SQLRSSCBetween::Bound(Items &bound, Stores &stores, SQLCompOperator op) {
  for (size_t i = 0; i < value_.size(); ++i) {
    value_[i]->Evaluate();
    bound[i]->Evaluate();
    if (SQLValueStore::Compare(valueStores_[i], stores[i], SQL_COMP_EQ) != TV_TRUE)
      return SQLValueStore::Compare(valueStores_[i], stores[i], op);
  }
  return TV_TRUE;
}

SQLTruthValue SQLRSSCBetween::Evaluate() {
  SQLTruthValue lower = Bound(low_, lowStores_, SQL_COMP_GE);
  if (lower == TV_FALSE) return TV_FALSE;
  return TVAnd(lower, Bound(high_, highStores_, SQL_COMP_LE));
}

namespace {

// TRUE when the value layer orders values of the two types among each
// other: the same scalar type, or two numbers.
bool OrderedTogether(SQLType a, SQLType b) {
  auto number = [](SQLType t) { return t == SQL_INTEGER || t == SQL_REAL; };
  return a == b ? a != SQL_ARRAY : number(a) && number(b);
}

}  // namespace

bool SQLRSSCBetween::LeavesNoRow() {
  if (value_.size() != 1 || !low_[0]->IsConstant() || !high_[0]->IsConstant())
    return SQLRSSCSearchCond::LeavesNoRow();
  try {
    low_[0]->Evaluate();
    high_[0]->Evaluate();
  } catch (SQLException const &) {
    return false;  // the rows fail as they come
  }
  SQLValueStore const *low = lowStores_[0];
  SQLValueStore const *high = highStores_[0];
  // A NULL bound makes every row's answer UNKNOWN or FALSE.
  if (low->IsNull() || high->IsNull()) return true;
  SQLType const type = value_[0]->GetColumnDescriptor().GetType();
  if (!OrderedTogether(type, low->GetType()) || !OrderedTogether(type, high->GetType()) ||
      !OrderedTogether(low->GetType(), high->GetType()))
    return SQLRSSCSearchCond::LeavesNoRow();
  // No value is at or above low and at or below high when low > high.
  return SQLValueStore::Compare(low, high, SQL_COMP_GT) == TV_TRUE;
}

void SQLRSSCBetween::Reset() {
  ResetAll(value_);
  ResetAll(low_);
  ResetAll(high_);
}

void SQLRSSCBetween::Cost(double *first, double *second) {
  *first = *second = 0;
  for (Items const *items : {&value_, &low_, &high_}) {
    double f, s;
    SQLRSSCRowValueCost(*items, &f, &s);
    *first += f;
    *second += s;
  }
}

void SQLRSSCBetween::AcceptVisit(SQLVisitor &visitor) {
  VisitAll(value_, visitor);
  VisitAll(low_, visitor);
  VisitAll(high_, visitor);
  visitor.VisitSQLRSSCBetween(this);
}

void SQLRSSCBetween::GetColumnRefs(int level, SQLRSSCColumnRefType type, pSQLRSSCColumnRefList *refs) {
  ColumnRefsOfAll(value_, level, type, refs);
  ColumnRefsOfAll(low_, level, type, refs);
  ColumnRefsOfAll(high_, level, type, refs);
}

SQLTruthValueSet SQLRSSCBetween::PossibleValuesOnNullifiedCols(int level, List<Interval<int>> *intervals) {
  if (value_.empty()) return SQLRSSCTruthSet(TV_TRUE);
  if (CertainlyNull(value_[0].get(), level, intervals)) return SQLRSSCTruthSet(TV_UNKNOWN);
  int nullBounds = (CertainlyNull(low_[0].get(), level, intervals) ? 1 : 0) +
                   (CertainlyNull(high_[0].get(), level, intervals) ? 1 : 0);
  if (nullBounds == 2) return SQLRSSCTruthSet(TV_UNKNOWN);
  if (nullBounds == 1) return SQLRSSCTruthSet(TV_FALSE, TV_UNKNOWN);
  return SQLRSSCTruthSet(TV_TRUE, TV_FALSE, TV_UNKNOWN);
}

SQLRSSCSearchCond *SQLRSSCBetween::Optimize() {
  SQLRSSCSearchCondPtr self(this);  // freed when an operand throws
  OptimizeAll(value_);
  OptimizeAll(low_);
  OptimizeAll(high_);
  return self.release();
}

void SQLRSSCBetween::createTokenString(SQLTokenString *ts, int level, SQLRSNetFetchParams *params) {
  ts->AppendToken(SQLNWTSCBetween);
  ts->AppendBs2(static_cast<std::int16_t>(value_.size()));
  TokensOfAll(value_, ts, level, params);
  TokensOfAll(low_, ts, level, params);
  TokensOfAll(high_, ts, level, params);
}

void SQLRSSCBetween::CRefs2ParameterRefs(int level, intList *columns, pSQLParameterList *parameters) {
  ReplaceAll(value_, level, columns, parameters);
  ReplaceAll(low_, level, columns, parameters);
  ReplaceAll(high_, level, columns, parameters);
}

void SQLRSSCBetween::Log() const {
  if (!SQLRSSCTracing()) return;
  SQLLogger &log = *SQLLogger::Instance();
  log << "Between(" << incind << endl;
  LogAll("(", value_);
  log << "BETWEEN" << endl;
  LogAll("(", low_);
  log << "AND" << endl;
  LogAll("(", high_);
  log << decind << ")";
}

// ---- IN with a list ----

SQLRSSCInSet::SQLRSSCInSet(SQLRSSCValueExpr *value, pSQLRSSCValueExprList *set)
    : value_(value), set_(SQLRSSCTakeList(set)) {}

void SQLRSSCInSet::Prepare(SQLRSPrepareContext *context) {
  valueStore_ = value_->Prepare(context);
  setStores_ = PrepareAll(set_, context);
}

SQLTruthValue SQLRSSCInSet::Evaluate() {
  value_->Evaluate();
  SQLTruthValue result = TV_FALSE;
  for (size_t i = 0; i < set_.size() && result != TV_TRUE; ++i) {
    set_[i]->Evaluate();
    result = TVOr(result, SQLValueStore::Compare(valueStore_, setStores_[i], SQL_COMP_EQ));
  }
  return result;
}

void SQLRSSCInSet::Reset() {
  value_->Reset();
  ResetAll(set_);
}

void SQLRSSCInSet::Cost(double *first, double *second) {
  *first = *second = 0;
  SQLRSSCAddCost(value_.get(), first, second);
  for (auto &e : set_) SQLRSSCAddCost(e.get(), first, second);
  *second += static_cast<double>(set_.size());
}

void SQLRSSCInSet::AcceptVisit(SQLVisitor &visitor) {
  value_->AcceptVisit(visitor);
  VisitAll(set_, visitor);
  visitor.VisitSQLRSSCInSet(this);
}

void SQLRSSCInSet::GetColumnRefs(int level, SQLRSSCColumnRefType type, pSQLRSSCColumnRefList *refs) {
  value_->GetColumnRefs(level, type, refs);
  ColumnRefsOfAll(set_, level, type, refs);
}

SQLTruthValueSet SQLRSSCInSet::PossibleValuesOnNullifiedCols(int level, List<Interval<int>> *intervals) {
  if (set_.empty()) return SQLRSSCTruthSet(TV_FALSE);
  SQLTruthValue v = value_->NullValueOnNullifiedCols(level, intervals);
  if (v == TV_TRUE) return SQLRSSCTruthSet(TV_UNKNOWN);
  bool allNull = true, allNotNull = true;
  for (auto &e : set_) {
    SQLTruthValue t = e->NullValueOnNullifiedCols(level, intervals);
    if (t != TV_TRUE) allNull = false;
    if (t != TV_FALSE) allNotNull = false;
  }
  if (allNull) return SQLRSSCTruthSet(TV_UNKNOWN);
  if (allNotNull && v == TV_FALSE) return SQLRSSCTruthSet(TV_TRUE, TV_FALSE);
  return SQLRSSCTruthSet(TV_TRUE, TV_FALSE, TV_UNKNOWN);
}

SQLRSSCSearchCond *SQLRSSCInSet::Optimize() {
  SQLRSSCSearchCondPtr self(this);  // freed when an operand throws
  value_->Optimize();
  OptimizeAll(set_);
  return self.release();
}

void SQLRSSCInSet::createTokenString(SQLTokenString *ts, int level, SQLRSNetFetchParams *params) {
  // A set longer than a list can count goes as the OR of IN predicates
  // over its parts, which is the same condition.
  int const n = static_cast<int>(set_.size());
  int const part = SQLTokenString::kMaxListCount;
  auto writePart = [&](int p) {
    int const from = p * part;
    int const to = std::min(n, from + part);
    ts->AppendToken(SQLNWTSCInSet);
    value_->createTokenString(ts, level, params);
    ts->AppendBs2(static_cast<std::int16_t>(to - from));
    for (int i = from; i < to; ++i) set_[static_cast<size_t>(i)]->createTokenString(ts, level, params);
  };
  if (n <= part) {
    writePart(0);
  } else {
    ts->AppendNestedList(SQLNWTSCOr, (n + part - 1) / part, writePart);
  }
}

void SQLRSSCInSet::CRefs2ParameterRefs(int level, intList *columns, pSQLParameterList *parameters) {
  SQLRSSCReplaceCRefs(&value_, level, columns, parameters);
  ReplaceAll(set_, level, columns, parameters);
}

void SQLRSSCInSet::Log() const {
  if (!SQLRSSCTracing()) return;
  SQLLogger &log = *SQLLogger::Instance();
  log << "InSet(" << incind << endl;
  SQLRSSCLogOperand("expr:", value_.get());
  LogAll("set:(", set_);
  log << decind << ")";
}

// ---- IS NULL ----

SQLRSSCIsNull::SQLRSSCIsNull(SQLRSSCValueExpr *operand) : operand_(operand) {}

void SQLRSSCIsNull::Prepare(SQLRSPrepareContext *context) { store_ = operand_->Prepare(context); }

SQLTruthValue SQLRSSCIsNull::Evaluate() {
  operand_->Evaluate();
  return store_->IsNull() ? TV_TRUE : TV_FALSE;
}

void SQLRSSCIsNull::AcceptVisit(SQLVisitor &visitor) {
  operand_->AcceptVisit(visitor);
  visitor.VisitSQLRSSCIsNull(this);
}

void SQLRSSCIsNull::GetColumnRefs(int level, SQLRSSCColumnRefType type, pSQLRSSCColumnRefList *refs) {
  operand_->GetColumnRefs(level, type, refs);
}

SQLTruthValueSet SQLRSSCIsNull::PossibleValuesOnNullifiedCols(int level, List<Interval<int>> *intervals) {
  switch (operand_->NullValueOnNullifiedCols(level, intervals)) {
    case TV_TRUE: return SQLRSSCTruthSet(TV_TRUE);
    case TV_FALSE: return SQLRSSCTruthSet(TV_FALSE);
    default: return SQLRSSCTruthSet(TV_FALSE, TV_TRUE);
  }
}

SQLRSSCSearchCond *SQLRSSCIsNull::Optimize() {
  SQLRSSCSearchCondPtr self(this);  // freed when an operand throws
  operand_->Optimize();
  return self.release();
}

void SQLRSSCIsNull::createTokenString(SQLTokenString *ts, int level, SQLRSNetFetchParams *params) {
  ts->AppendToken(SQLNWTSCIsNull);
  operand_->createTokenString(ts, level, params);
}

void SQLRSSCIsNull::CRefs2ParameterRefs(int level, intList *columns, pSQLParameterList *parameters) {
  SQLRSSCReplaceCRefs(&operand_, level, columns, parameters);
}

void SQLRSSCIsNull::Log() const {
  if (!SQLRSSCTracing()) return;
  SQLLogger &log = *SQLLogger::Instance();
  log << "Is Null:" << incind << endl;
  operand_->Log();
  log << decind;
}
