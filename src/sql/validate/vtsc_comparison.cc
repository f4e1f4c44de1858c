#include "sql/validate/vtsc_comparison.h"

#include <algorithm>
#include <new>
#include <string>
#include <vector>

#include "sql/common/sql_abort.h"
#include "sql/common/sql_logger.h"
#include "sql/exec/sc_comparison.h"
#include "sql/exec/sc_search_cond.h"
#include "sql/exec/sc_value_expr.h"
#include "sql/validate/type_set.h"
#include "sql/validate/vtsc_connectives.h"
#include "sql/validate/vtsc_support.h"

namespace {

struct RSListDeleter {
  void operator()(pSQLRSSCValueExprList *list) const { SQLVTDeleteRSValueExprList(list); }
};
using RSList = std::unique_ptr<pSQLRSSCValueExprList, RSListDeleter>;
using RSCond = std::unique_ptr<SQLRSSCSearchCond>;

std::vector<SQLVTSCValueExpr *> Elements(SQLVTSCRowValueConstr *row) {
  std::vector<SQLVTSCValueExpr *> result;
  for (bool ok = row->First(); ok; ok = row->Next()) result.push_back(row->GetCurrent());
  return result;
}

// The executable expressions of elements [from, from + n).
RSList MakeList(std::vector<SQLVTSCValueExpr *> const &elements, size_t from, size_t n) {
  RSList list(new pSQLRSSCValueExprList());
  for (size_t i = from; i < from + n; ++i) {
    std::unique_ptr<SQLRSSCValueExpr> element(elements[i]->CreateRS());
    list->Append(element.get());
    static_cast<void>(element.release());
  }
  return list;
}

RSCond Compare(std::vector<SQLVTSCValueExpr *> const &left, std::vector<SQLVTSCValueExpr *> const &right,
               size_t from, size_t n, SQLRSSCCompOperator op) {
  RSList l = MakeList(left, from, n);
  RSList r = MakeList(right, from, n);
  // The comparison owns the lists from its construction on, also when that
  // fails; its memory is had first, while the lists are still here.
  void *memory = ::operator new(sizeof(SQLRSSCComparison));
  try {
    return RSCond(new (memory) SQLRSSCComparison(l.release(), op, r.release()));
  } catch (...) {
    ::operator delete(memory);
    throw;
  }
}

RSCond And2(RSCond a, RSCond b) {
  if (!a) return b;
  if (!b) return a;
  // The allocation comes first: when it fails, a and b still hold theirs.
  return RSCond(new SQLRSSCAnd(a.release(), b.release()));
}

// Replaces the row's current element by its cast.
void CastCurrent(SQLVTSCRowValueConstr *row, SQLType type) {
  SQLVTSCValueExpr *old = row->GetCurrent();
  SQLVTSCValueExpr *cast = old->Cast(type, true);
  if (cast != nullptr && cast != old) row->SetCurrent(cast);
}

// Resolves a row in place; a row that replaces itself has deleted itself.
void ResolveRow(std::unique_ptr<SQLVTSCRowValueConstr> *row, SQLVTScope *scope, SQLVTreeData *treeData,
                int flags, SQLVTWhereUsedMgr *whereUsed) {
  SQLVTSCRowValueConstr *old = row->get();
  SQLVTSCRowValueConstr *mapped = old->MapColumnNamesToIds(scope, treeData, flags, whereUsed);
  if (mapped == nullptr || mapped == old) return;
  row->release();
  row->reset(mapped);
}

void LogRow(char const *label, SQLVTSCRowValueConstr const *row, bool tracing) {
  if (tracing) *SQLLogger::Instance() << label;
  row->Log();
}

}  // namespace

char const *GetCompOperatorSymbol(SQLVTSCCompOperator op) {
  static char const *const kSymbols[] = {"=", "<>", "<", ">", "<=", ">=", "#<", "#>", "#<=", "#>="};
  if (op < SQLVTSC_EQUAL || op > SQLVTSC_ALL_GREATER_EQUAL) return "?";
  return kSymbols[op];
}

// ---- Comparison ----

SQLVTSCComparison::SQLVTSCComparison(SQLVTSCRowValueConstr *left, SQLVTSCCompOperator op,
                                     SQLVTSCRowValueConstr *right)
    : left_(left), right_(right), op_(op) {}

void SQLVTSCComparison::Log() const {
  bool tracing = SQLVTTracing();
  if (tracing) *SQLLogger::Instance() << "Comparison(";
  left_->Log();
  if (tracing) *SQLLogger::Instance() << " " << GetCompOperatorSymbol(op_) << " ";
  right_->Log();
  if (tracing) *SQLLogger::Instance() << ")";
}

void SQLVTSCComparison::MapColumnIds(int level, SQLColumnIdMappingList *mappings) {
  left_->MapColumnIds(level, mappings);
  right_->MapColumnIds(level, mappings);
}

void SQLVTSCComparison::MapColumnNamesToIds(SQLVTScope *scope, SQLVTreeData *treeData, int flags,
                                            SQLVTWhereUsedMgr *whereUsed) {
  ResolveRow(&left_, scope, treeData, flags, whereUsed);
  ResolveRow(&right_, scope, treeData, flags, whereUsed);
  // A pseudo-column may have widened one side: surplus elements on either
  // side are dropped.
  int n = std::min(left_->NrElements(), right_->NrElements());
  left_->Truncate(n);
  right_->Truncate(n);
}

void SQLVTSCComparison::ValidateTypes() const {
  for (bool l = left_->First(), r = right_->First(); l && r; l = left_->Next(), r = right_->Next()) {
    left_->GetCurrent()->ValidateTypes();
    right_->GetCurrent()->ValidateTypes();
    SQLTypeSet leftTypes = left_->GetCurrent()->GetPossibleTypeSet();
    SQLTypeSet rightTypes = right_->GetCurrent()->GetPossibleTypeSet();
    SQLType type = SQL_UNDEFINED;
    if (!leftTypes.SQLGetCastTypeForComparison(&rightTypes, &type)) {
      SQLVTThrow("42T01",
                 std::string("Incompatible types for comparison operator '") + GetCompOperatorSymbol(op_) + "'",
                 GetLineNumber());
    }
    CastCurrent(left_.get(), type);
    CastCurrent(right_.get(), type);
  }
}

void SQLVTSCComparison::ValidateArrayUsage() const {
  bool equality = op_ == SQLVTSC_EQUAL || op_ == SQLVTSC_NOT_EQUAL;
  for (bool l = left_->First(), r = right_->First(); l && r; l = left_->Next(), r = right_->Next()) {
    SQLVTSCValueExpr *le = left_->GetCurrent();
    SQLVTSCValueExpr *re = right_->GetCurrent();
    le->ValidateArrayUsage();
    re->ValidateArrayUsage();
    if (equality) {
      if (le->GetDepth() != re->GetDepth()) {
        SQLVTThrow("42I48", "Cannot compare array values with non-array values or array values of different depth",
                   GetLineNumber());
      }
    } else if (le->GetDepth() != 1 || re->GetDepth() != 1) {
      SQLVTThrow("42I49", "Array values can only be compared for equality", GetLineNumber());
    }
  }
}

SQLRSSCSearchCond *SQLVTSCComparison::CreateRS() {
  std::vector<SQLVTSCValueExpr *> left = Elements(left_.get());
  std::vector<SQLVTSCValueExpr *> right = Elements(right_.get());
  size_t n = std::min(left.size(), right.size());
  if (op_ <= SQLVTSC_GREATER_EQUAL) return Compare(left, right, 0, n, static_cast<SQLRSSCCompOperator>(op_)).release();
  // "#<" and its kind: one comparison per element, in a left-deep chain of ANDs.
  SQLRSSCCompOperator each = static_cast<SQLRSSCCompOperator>(op_ - SQLVTSC_ALL_LESS + SQLVTSC_LESS);
  RSCond result;
  for (size_t i = 0; i < n; ++i) result = And2(std::move(result), Compare(left, right, i, 1, each));
  return result.release();
}

// ---- Ranges ----

void SQLVTSCRange::Log() const {
  bool tracing = SQLVTTracing();
  if (tracing) *SQLLogger::Instance() << (GetType() == BETWEEN ? "Between(" : "InRange(");
  LogRow("expr: ", expr_.get(), tracing);
  LogRow(", lower: ", lower_.get(), tracing);
  LogRow(", upper: ", upper_.get(), tracing);
  if (tracing) *SQLLogger::Instance() << ")";
}

void SQLVTSCRange::MapColumnIds(int, SQLColumnIdMappingList *) {
  SQLAbort(__FILE__, __LINE__, "SQLVTSCRange::MapColumnIds() called");
}

void SQLVTSCRange::MapColumnNamesToIds(SQLVTScope *scope, SQLVTreeData *treeData, int flags,
                                       SQLVTWhereUsedMgr *whereUsed) {
  ResolveRow(&expr_, scope, treeData, flags, whereUsed);
  ResolveRow(&lower_, scope, treeData, flags, whereUsed);
  ResolveRow(&upper_, scope, treeData, flags, whereUsed);
}

void SQLVTSCRange::ValidateTypes() const {
  bool e = expr_->First();
  bool l = lower_->First();
  bool u = upper_->First();
  while (e && (l || u)) {
    expr_->GetCurrent()->ValidateTypes();
    SQLTypeSet exprTypes = expr_->GetCurrent()->GetPossibleTypeSet();
    SQLTypeSet bounds;
    if (l) {
      lower_->GetCurrent()->ValidateTypes();
      bounds = lower_->GetCurrent()->GetPossibleTypeSet();
    }
    if (u) {
      upper_->GetCurrent()->ValidateTypes();
      SQLTypeSet upperTypes = upper_->GetCurrent()->GetPossibleTypeSet();
      if (l) {
        bounds.IntersectComparable(&upperTypes);
      } else {
        bounds = upperTypes;
      }
    }
    SQLType type = SQL_UNDEFINED;
    if (!exprTypes.SQLGetCastTypeForComparison(&bounds, &type)) {
      if (GetType() == BETWEEN) {
        SQLVTThrow("42T02", "Incompatible types for BETWEEN operator", GetLineNumber());
      }
      SQLVTThrow("42T23", "Incompatible types for INRANGE operator", GetLineNumber());
    }
    CastCurrent(expr_.get(), type);
    if (l) CastCurrent(lower_.get(), type);
    if (u) CastCurrent(upper_.get(), type);
    e = expr_->Next();
    if (l) l = lower_->Next();
    if (u) u = upper_->Next();
  }
}

void SQLVTSCRange::ValidateArrayUsage() const {
  for (SQLVTSCRowValueConstr *row : {expr_.get(), lower_.get(), upper_.get()}) {
    for (bool ok = row->First(); ok; ok = row->Next()) {
      row->GetCurrent()->ValidateArrayUsage();
      if (row->GetCurrent()->GetDepth() != 1) {
        SQLVTThrow("42I49", "Array values can only be compared for equality", GetLineNumber());
      }
    }
  }
}

namespace {

// The bound is one constant on both sides: the element must equal it.
bool FixedBound(SQLVTSCValueExpr *lower, SQLVTSCValueExpr *upper) {
  return lower->IsConstant() && SQLVTSameOperand(lower, upper);
}

}  // namespace

SQLRSSCSearchCond *SQLVTSCBetween::CreateRS() {
  std::vector<SQLVTSCValueExpr *> expr = Elements(expr_.get());
  std::vector<SQLVTSCValueExpr *> lower = Elements(lower_.get());
  std::vector<SQLVTSCValueExpr *> upper = Elements(upper_.get());
  size_t nLow = std::min(expr.size(), lower.size());
  size_t nHigh = std::min(expr.size(), upper.size());
  size_t k = 0;
  while (k < nLow && k < nHigh && FixedBound(lower[k], upper[k])) ++k;
  RSCond eq;
  if (k > 0) eq = Compare(expr, lower, 0, k, SQLRSSC_EQUAL);
  nLow -= k;
  nHigh -= k;
  RSCond rest;
  if (nLow == 0 && nHigh == 0) {
    // the equal prefix says it all
  } else if (nLow == 0) {
    rest = Compare(expr, upper, k, nHigh, SQLRSSC_LESS_THAN_OR_EQUAL);
  } else if (nLow == nHigh) {
    RSList value = MakeList(expr, k, nLow);
    RSList low = MakeList(lower, k, nLow);
    RSList high = MakeList(upper, k, nLow);
    pSQLRSSCValueExprList *v = value.release();
    pSQLRSSCValueExprList *lo = low.release();
    rest = RSCond(new SQLRSSCBetween(v, lo, high.release()));
  } else {
    rest = Compare(expr, lower, k, nLow, SQLRSSC_GREATER_THAN_OR_EQUAL);
    if (nHigh != 0) rest = And2(std::move(rest), Compare(expr, upper, k, nHigh, SQLRSSC_LESS_THAN_OR_EQUAL));
  }
  return And2(std::move(eq), std::move(rest)).release();
}

SQLRSSCSearchCond *SQLVTSCInRange::CreateRS() {
  std::vector<SQLVTSCValueExpr *> expr = Elements(expr_.get());
  std::vector<SQLVTSCValueExpr *> lower = Elements(lower_.get());
  std::vector<SQLVTSCValueExpr *> upper = Elements(upper_.get());
  std::vector<RSCond> conds;
  size_t i = 0;
  for (; i < expr.size() && i < lower.size() && i < upper.size(); ++i) {
    if (FixedBound(lower[i], upper[i])) {
      conds.push_back(Compare(expr, lower, i, 1, SQLRSSC_EQUAL));
    } else {
      RSList value = MakeList(expr, i, 1);
      RSList low = MakeList(lower, i, 1);
      RSList high = MakeList(upper, i, 1);
      // BETWEEN owns the lists from its construction on, also when that
      // fails; its memory is had first, while the lists are still here.
      void *memory = ::operator new(sizeof(SQLRSSCBetween));
      RSCond between;
      try {
        between.reset(new (memory) SQLRSSCBetween(value.release(), low.release(), high.release()));
      } catch (...) {
        ::operator delete(memory);
        throw;
      }
      conds.push_back(std::move(between));
    }
  }
  if (i < lower.size()) {
    for (; i < expr.size() && i < lower.size(); ++i) {
      conds.push_back(Compare(expr, lower, i, 1, SQLRSSC_GREATER_THAN_OR_EQUAL));
    }
  } else {
    for (; i < expr.size() && i < upper.size(); ++i) {
      conds.push_back(Compare(expr, upper, i, 1, SQLRSSC_LESS_THAN_OR_EQUAL));
    }
  }
  if (conds.empty()) return nullptr;
  if (conds.size() == 1) return conds.front().release();
  return SQLRSSCConjunction(std::move(conds)).release();
}
