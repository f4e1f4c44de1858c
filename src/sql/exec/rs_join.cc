#include "sql/exec/rs_join.h"

#include <algorithm>
#include <string>

#include "sql/agent/nw_token.h"
#include "sql/agent/token_string.h"
#include "sql/common/database_instance.h"
#include "sql/common/sql_abort.h"
#include "sql/common/sql_logger.h"
#include "sql/common/sql_parameter.h"
#include "sql/exec/column_ref_scope.h"
#include "sql/exec/rs_fetch.h"
#include "sql/exec/rs_filter.h"
#include "sql/exec/rs_join_shared.h"
#include "sql/exec/rs_net_fetch.h"
#include "sql/exec/sc_column_ref.h"
#include "sql/exec/sc_comparison.h"
#include "sql/exec/sc_const.h"
#include "sql/exec/sort_key.h"
#include "sql/exec/sort_spec.h"
#include "sql/exec/subquery_answers.h"
#include "sql/exec/visitor.h"
#include "sql/exec/visitors.h"

using namespace sql_join;

namespace {

void ShiftRefs(SQLRSSCSearchCond *condition, int delta) {
  for (SQLRSSCColumnRef *ref : SQLRSSCLevelRefs(condition)) ref->SetColumnId(ref->GetColumnId() + delta);
}

// A driver whose queries cannot carry conditions inside a join can still
// join two table leaves when a side's condition comes off and goes back
// above the joined leaf: a side must be a leaf or a filter directly over
// one, and `filterAllowed` says whether it may be the filter.
bool LeafForJoinWithoutFilters(SQLRowSource *side, bool filterAllowed) {
  if (auto *filter = dynamic_cast<SQLRSFilter *>(side)) {
    if (!filterAllowed) return false;
    side = filter->GetChild();
  }
  return dynamic_cast<SQLRSFetch *>(side) != nullptr;
}

// Calls `each` with every conjunct of the enclosing conditions.
template <class Each>
void ForEachEnclosingConjunct(List<SQLRSSCSearchCond const *> *filters, Each each) {
  if (filters == nullptr) return;
  std::vector<SQLRSSCSearchCond *> pending;
  for (bool more = filters->First(); more; more = filters->Next())
    pending.push_back(const_cast<SQLRSSCSearchCond *>(filters->GetCurrent()));
  while (!pending.empty()) {
    SQLRSSCSearchCond *c = pending.back();
    pending.pop_back();
    if (auto *conjunction = dynamic_cast<SQLRSSCAnd *>(c)) {
      for (int i = 0; i < conjunction->NrOperands(); ++i) pending.push_back(conjunction->GetOperand(i));
      continue;
    }
    each(c);
  }
}

// TRUE when a conjunct of the enclosing conditions reads columns in
// [from, to) and no others, and `holds` for it.
template <class Holds>
bool AnySideConjunct(List<SQLRSSCSearchCond const *> *filters, int from, int to, Holds holds) {
  bool found = false;
  ForEachEnclosingConjunct(filters, [&](SQLRSSCSearchCond *c) {
    if (found) return;
    std::vector<SQLRSSCColumnRef *> refs = SQLRSSCLevelRefs(c);
    if (refs.empty() || !std::all_of(refs.begin(), refs.end(), [&](SQLRSSCColumnRef *r) {
          return r->GetColumnId() >= from && r->GetColumnId() < to;
        }))
      return;
    found = holds(c);
  });
  return found;
}

// TRUE when a conjunct of the enclosing conditions reads columns in
// [from, to) and no others, and the driver of `instance` cannot evaluate
// it (any conjunct when `instance` is null). Pushed down, such a conjunct
// acts on the rows of one side before the join.
bool SideConjunct(List<SQLRSSCSearchCond const *> *filters, int from, int to, SQLDatabaseInstance const *instance) {
  return AnySideConjunct(filters, from, to, [instance](SQLRSSCSearchCond *c) {
    return instance == nullptr ||
           !SQLOperatesOnThisDBInstanceVisitor::Holds(c, const_cast<SQLDatabaseInstance *>(instance));
  });
}

// TRUE when a conjunct of the enclosing conditions reads columns in [from,
// to) and no others, and holds a correlated subquery (the dear work of a
// row: first cost figure 100 or more).
bool DearSideConjunct(List<SQLRSSCSearchCond const *> *filters, int from, int to) {
  return AnySideConjunct(filters, from, to, [](SQLRSSCSearchCond *c) {
    double first = 0, second = 0;
    c->Cost(&first, &second);
    return first >= 100;
  });
}

// The driver that serves every table of a side, or null.
SQLDatabaseInstance const *SideInstance(SQLRowSource *side) {
  SQLGetDBInstanceVisitor visitor;
  side->AcceptVisit(visitor);
  return visitor.GetResult();
}

// TRUE when the join's condition or an enclosing conjunct requires a term
// of the left side (columns below `nl` only) and one of the right side
// (columns in [nl, n) only) equal.
bool JoinsOnEqualTerms(SQLRSSCSearchCond *condition, List<SQLRSSCSearchCond const *> *filters, int nl, int n) {
  std::vector<SQLRSSCSearchCond::EqualTerms> equal;
  if (condition != nullptr) condition->GetEqualTerms(nl, &equal);
  ForEachEnclosingConjunct(filters, [&](SQLRSSCSearchCond *c) { c->GetEqualTerms(nl, &equal); });
  return std::any_of(equal.begin(), equal.end(), [n](SQLRSSCSearchCond::EqualTerms const &p) {
    pSQLRSSCColumnRefList refs;
    p.high->GetColumnRefs(0, SQL_CREF_LEVEL, &refs);
    for (bool more = refs.First(); more; more = refs.Next())
      if (refs.GetCurrent()->GetColumnId() >= n) return false;
    return true;
  });
}

// Takes the filter off a side; its references move by `shift`.
SQLRSSCSearchCondPtr PullSideFilter(std::unique_ptr<SQLRowSource> *side, int shift) {
  SQLRSSCSearchCond *pulled = nullptr;
  side->reset(side->release()->PullFilter(&pulled));
  SQLRSSCSearchCondPtr condition(pulled);
  if (condition != nullptr) ShiftRefs(condition.get(), shift);
  return condition;
}

std::vector<int> LevelColumns(SQLRSSCValueExpr *e) {
  pSQLRSSCColumnRefList refs;
  e->GetColumnRefs(0, SQL_CREF_LEVEL, &refs);
  std::vector<int> out;
  for (bool more = refs.First(); more; more = refs.Next()) out.push_back(refs.GetCurrent()->GetColumnId());
  return out;
}

bool HasOuterRefs(SQLRSSCValueExpr *e) {
  pSQLRSSCColumnRefList refs;
  e->GetColumnRefs(0, SQL_CREF_OUTER, &refs);
  return refs.NrElements() > 0;
}

// One side of a join while a projection is pushed: what it is offered (in
// its own numbering) and what the join offered whole.
struct ProjectionSide {
  std::unique_ptr<SQLRowSource> *child;
  int offset;     // the join column of the side's column 0
  int columns;    // the side's column count before the push
  bool nullable;  // the join sets the side's columns NULL for a row without partner
  std::vector<bool> placed;  // per side column: offered as a plain reference
  SQLRSSCValueExprRefPtrList offer;
  std::vector<RefPtr<SQLRSSCValueExpr>> originals;  // the join's expressions offered whole
  std::vector<RefPtr<SQLRSSCValueExpr>> copies;     // their renumbered copies, same order

  void PlaceColumn(int joinColumn) {
    int c = joinColumn - offset;
    if (placed[static_cast<size_t>(c)]) return;
    placed[static_cast<size_t>(c)] = true;
    offer.Append(RefPtr<SQLRSSCValueExpr>(new SQLRSSCColumnRef(0, c, (*child)->GetColumnDescriptor(c))));
  }

  void PlaceWhole(RefPtr<SQLRSSCValueExpr> const &e) {
    for (auto const &o : originals)
      if (o.Get() == e.Get()) return;  // listed twice, offered once
    RefPtr<SQLRSSCValueExpr> copy(e->Copy());
    pSQLRSSCColumnRefList refs;
    copy->GetColumnRefs(0, SQL_CREF_LEVEL, &refs);
    for (bool more = refs.First(); more; more = refs.Next())
      refs.GetCurrent()->SetColumnId(refs.GetCurrent()->GetColumnId() - offset);
    originals.push_back(e);
    copies.push_back(copy);
    offer.Append(copy);
  }

  // Entry i of what the side now delivers: a join column (>= 0), an
  // expression offered whole (-2 - its index), or -1 for anything else.
  int Delivered(SQLRSSCValueExpr *e) const {
    if (SQLRSSCColumnRef *ref = PlainColumn(e))
      return ref->GetColumnId() >= 0 && ref->GetColumnId() < columns ? ref->GetColumnId() + offset : -1;
    for (size_t k = 0; k < copies.size(); ++k)
      if (copies[k].Get() == e) return -2 - static_cast<int>(k);
    for (size_t k = 0; k < copies.size(); ++k)
      if (copies[k]->IsSameValueExpr(e)) return -2 - static_cast<int>(k);
    return -1;
  }
};

[[noreturn]] void Unexpected(char const *cls, char const *operation) {
  SQLAbort(__FILE__, __LINE__, "Unexpected message %s::%s", cls, operation);
}

}  // namespace

namespace sql_join {

// TRUE when a side (or the side under its filter) joins tables, here or
// in a driver: run once per outer row, it would repeat that join each time.
bool JoinsTables(SQLRowSource *side) {
  if (auto *filter = dynamic_cast<SQLRSFilter *>(side)) side = filter->GetChild();
  if (auto *leaf = dynamic_cast<SQLRSNetFetch *>(side)) return leaf->HoldsJoin();
  return dynamic_cast<SQLRSJoin *>(side) != nullptr || dynamic_cast<SQLRSConstLeftOuterJoin *>(side) != nullptr;
}

// The table leaf of a side that is one (or a filter over one), else null.
SQLRSFetch *SideLeaf(SQLRowSource *side) {
  if (auto *filter = dynamic_cast<SQLRSFilter *>(side)) side = filter->GetChild();
  return dynamic_cast<SQLRSFetch *>(side);
}

void SetStoreNull(SQLValueStore *v) {
  if (v->GetType() != SQL_ARRAY) {
    v->SetNull();
    return;
  }
  for (int e = 0; e < v->GetDimension(); ++e) v->GetElement(e)->SetNull();
}

// A store for a column: an array of the column's depth, or NULL, typed as
// the column is, so that a row without partner is complete before any value
// was copied in (sorts, groups and buffers read the type of every store).
void InitOwnStore(SQLValueStore *v, SQLColumnDescriptor const *d) {
  if (d->GetDepth() > 1) {
    v->SetDimension(d->GetDepth());
    for (int e = 0; e < d->GetDepth(); ++e) SQLSetTypedNull(v->GetElement(e), d->GetType());
  } else {
    SQLSetTypedNull(v, d->GetType());
  }
}

// A plain reference to a column of the examined level, or null.
SQLRSSCColumnRef *PlainColumn(SQLRSSCValueExpr *e) {
  if (!e->IsColumnRef()) return nullptr;
  auto *ref = static_cast<SQLRSSCColumnRef *>(e);
  return ref->GetRelScopeLevel() == 0 ? ref : nullptr;
}

bool KeyImage(SQLValueStore const *v, std::string *image) { return SQLEqualityImage(v, image); }

}  // namespace sql_join

// ================================================================ SQLRSJoin

SQLRSJoin::SQLRSJoin(SQLJoinType type, SQLRowSource *left, SQLRowSource *right, SQLRSSCSearchCond *condition)
    : type_(type), left_(left), right_(right), condition_(condition) {}

SQLRSJoin::~SQLRSJoin() = default;

void SQLRSJoin::GetColumnRefs(int level, SQLRSSCColumnRefType type, pSQLRSSCColumnRefList *refs) {
  left_->GetColumnRefs(level, type, refs);
  right_->GetColumnRefs(level, type, refs);
  if (condition_) condition_->GetColumnRefs(level, type, refs);
}

bool SQLRSJoin::RejectsAllOnNullifiedCols(int level, List<Interval<int>> *columns) {
  switch (type_) {
    case SQL_JOIN_INNER:
      return left_->RejectsAllOnNullifiedCols(level, columns) || right_->RejectsAllOnNullifiedCols(level, columns);
    case SQL_JOIN_LEFT: return left_->RejectsAllOnNullifiedCols(level, columns);
    case SQL_JOIN_RIGHT: return right_->RejectsAllOnNullifiedCols(level, columns);
    default:
      return left_->RejectsAllOnNullifiedCols(level, columns) && right_->RejectsAllOnNullifiedCols(level, columns);
  }
}

bool SQLRSJoin::YieldsNoRow() {
  switch (type_) {
    // An inner side that reads this join's parameters is asked only once
    // they are bound, at each outer row.
    case SQL_JOIN_INNER:
      return Outer()->YieldsNoRow() || (parameterList_.NrElements() == 0 && Inner()->YieldsNoRow()) ||
             (condition_ != nullptr && condition_->LeavesNoRow());
    case SQL_JOIN_LEFT: return left_->YieldsNoRow();
    case SQL_JOIN_RIGHT: return right_->YieldsNoRow();
    default: return left_->YieldsNoRow() && right_->YieldsNoRow();
  }
}

void SQLRSJoin::CRefs2ParameterRefs(int level, intList *columns, pSQLParameterList *parameters) {
  left_->CRefs2ParameterRefs(level, columns, parameters);
  right_->CRefs2ParameterRefs(level, columns, parameters);
  if (condition_) condition_->CRefs2ParameterRefs(level, columns, parameters);
}

// ---- optimisation ----

SQLRowSource *SQLRSJoin::OptimizeTree(SQLHints *hints, List<SQLRSSCSearchCond const *> *filters) {
  SQLDatabaseInstance *instance = nullptr;
  int tables = 0;
  bool combinable = false;
  SQLRowSource *combined = CombineJoin(&instance, &tables, filters, &combinable);  // takes this over
  std::unique_ptr<SQLDatabaseInstance> owned(instance);
  if (combinable) return combined->OptimizeTree(hints, nullptr);
  // A join that cannot be combined stays a join: this one, or the join
  // that took its place over it (JoinPreservedSideFirst).
  std::unique_ptr<SQLRSJoin> self(static_cast<SQLRSJoin *>(combined));
  self->OptimizeJoin(hints, filters);
  return self.release();
}

SQLParameter *SQLRSJoin::NewParameter(int joinColumn) {
  SQLColumnDescriptor const *d = GetColumnDescriptor(joinColumn);
  parameters_.push_back(std::make_unique<SQLParameter>());
  SQLParameter *p = parameters_.back().get();
  p->SetType(d->GetType(), d->GetLength(), d->GetDepth());
  parameterList_.Append(p);
  parameterColumns_.Append(joinColumn);
  return p;
}

bool SQLRSJoin::CarryConstants(List<SQLRSSCSearchCond const *> *filters) {
  if (type_ != SQL_JOIN_INNER) return false;
  int const nl = nL(), n = nl + nR();
  std::vector<SQLRSSCSearchCond *> conjuncts;
  ForEachEnclosingConjunct(filters, [&](SQLRSSCSearchCond *c) { conjuncts.push_back(c); });
  if (condition_) {
    List<SQLRSSCSearchCond const *> own;
    own.Append(condition_.get());
    ForEachEnclosingConjunct(&own, [&](SQLRSSCSearchCond *c) { conjuncts.push_back(c); });
  }
  if (SQLMayFailVisitor::Holds(this) ||
      std::any_of(conjuncts.begin(), conjuncts.end(), [](SQLRSSCSearchCond *c) { return SQLMayFailVisitor::Holds(c); }))
    return false;
  std::vector<SQLRSSCConst const *> constant(static_cast<size_t>(n), nullptr);  // per join column
  std::vector<std::pair<int, int>> equal;
  for (SQLRSSCSearchCond *c : conjuncts) {
    c->GetEqualColumns(nl, &equal);
    auto *comparison = dynamic_cast<SQLRSSCComparison *>(c);
    SQLRSSCConst const *k = nullptr;
    int const column = comparison != nullptr ? comparison->ColumnEqualToConstant(&k) : -1;
    if (column >= 0 && column < n && constant[static_cast<size_t>(column)] == nullptr)
      constant[static_cast<size_t>(column)] = k;
  }
  auto carries = [this](int a, int b, SQLRSSCConst const *k) {
    SQLColumnDescriptor const *da = GetColumnDescriptor(a);
    SQLColumnDescriptor const *db = GetColumnDescriptor(b);
    SQLType const type = da->GetType();
    SQLValueStore const *v = k->GetValueStore();
    return (type == SQL_INTEGER || type == SQL_DATE || type == SQL_STRING) && db->GetType() == type &&
           da->GetDepth() <= 1 && db->GetDepth() <= 1 && !v->IsNull() && v->GetType() == type;
  };
  std::vector<SQLRSSCSearchCondPtr> carried[2];  // left, right; in the side's numbering
  for (auto [a, b] : equal) {
    if (b >= n) continue;
    SQLRSSCConst const *&ka = constant[static_cast<size_t>(a)];
    SQLRSSCConst const *&kb = constant[static_cast<size_t>(b)];
    if ((ka == nullptr) == (kb == nullptr)) continue;
    int const to = ka == nullptr ? a : b;
    SQLRSSCConst const *k = ka == nullptr ? kb : ka;
    if (!carries(to, to == a ? b : a, k)) continue;
    bool const right = to >= nl;
    SQLRSSCSearchCondPtr equals(SQLRSSCComparison::ColumnEquals(right ? to - nl : to, GetColumnDescriptor(to), k));
    carried[right].push_back(std::move(equals));
    (to == a ? ka : kb) = k;
  }
  for (int side = 0; side < 2; ++side) {
    SQLRSSCSearchCondPtr condition = SQLRSSCConjunction(std::move(carried[side]));
    if (condition == nullptr) continue;
    std::unique_ptr<SQLRowSource> &slot = side == 0 ? left_ : right_;
    slot.reset(new SQLRSFilter(slot.release(), condition.release()));
  }
  return std::any_of(constant.begin() + OuterOffset(), constant.begin() + OuterOffset() + Outer()->GetNumCols(),
                     [](SQLRSSCConst const *k) { return k != nullptr; });
}

void SQLRSJoin::OptimizeJoin(SQLHints *hints, List<SQLRSSCSearchCond const *> *filters) {
  // An INNER join's inner side that comes with a filter of its own (a
  // condition on its table alone from the ON of a join below) has a cheap
  // condition as one from an enclosing conjunct would be.
  bool const innerFiltered = type_ == SQL_JOIN_INNER && dynamic_cast<SQLRSFilter *>(Inner()) != nullptr;
  bool const outerPinned = CarryConstants(filters);
  // The left side numbers its columns as this join does: it sees the
  // enclosing conditions, as in CombineJoin.
  left_.reset(left_.release()->OptimizeTree(hints, filters));
  right_.reset(right_.release()->OptimizeTree(hints, nullptr));
  if (type_ == SQL_JOIN_FULL) return;
  // An INNER join's inner side that an enclosing conjunct of its own will
  // filter here (its driver cannot), or at all when the outer side joins
  // tables (many outer rows), is read and filtered once, not once per
  // outer row.
  int const nl = nL();
  bool const filteredInner =
      type_ == SQL_JOIN_INNER &&
      SideConjunct(filters, nl, nl + nR(), JoinsTables(Outer()) ? nullptr : SideInstance(Inner()));
  // An INNER join whose outer rows meet a dear condition (a correlated
  // subquery) of their own, and whose inner rows a cheap one, reads its
  // inner side first, once: when no inner row is left, the outer side and
  // its dear condition are not read at all.
  // Not when the outer side has a column equal to a constant: read first,
  // it leaves the dear condition only the few rows that equality keeps.
  bool const dearOuter = type_ == SQL_JOIN_INNER && DearSideConjunct(filters, 0, nl) && !outerPinned &&
                         (innerFiltered || SideConjunct(filters, nl, nl + nR(), nullptr));
  // INNER: the driver of the inner side's tables (null: none serves them
  // all), and whether the outer side's driver does not serve them.
  SQLDatabaseInstance const *innerInstance = nullptr;
  bool innerElsewhere = false;
  if (type_ == SQL_JOIN_INNER && !JoinsTables(Inner())) {
    innerInstance = SideInstance(Inner());
    SQLDatabaseInstance const *outerInstance = SideInstance(Outer());
    innerElsewhere = outerInstance == nullptr || !outerInstance->IsCompatible(innerInstance);
  }
  // An INNER join whose outer side joins tables (its rows may be many times
  // a table's) and whose inner side is one table that the outer side's
  // driver does not serve reads that table once, hashed by the condition's
  // equal columns, instead of asking its driver again for every joined row.
  bool smallerInner = false;
  if (innerElsewhere && condition_ && JoinsTables(Outer())) {
    std::vector<std::pair<int, int>> equal;
    condition_->GetEqualColumns(nl, &equal);
    smallerInner = !equal.empty();
  }
  // (A join that was handed parameterised conditions before it was
  // optimised keeps running its inner side per outer row.)
  // An INNER join with a table of another driver on equal columns reads
  // it once, or per batch of outer rows, not once per outer row (unless its
  // outer side's dear condition asks for the inner side first).
  bool const acrossDrivers = innerElsewhere && innerInstance != nullptr && !filteredInner && !dearOuter &&
                             JoinsOnEqualTerms(condition_.get(), filters, nl, nl + nR());
  if ((type_ != SQL_JOIN_INNER || JoinsTables(Inner()) || filteredInner || dearOuter || acrossDrivers || smallerInner) &&
      parameterColumns_.NrElements() == 0) {
    // The inner side is read once and the condition stays here (hashed by
    // its equal columns): run once per outer row, an outer join's inner
    // side would cost a driver's query per row, and a side that joins
    // tables would repeat its own join each time.
    buffered_ = true;
    acrossDrivers_ = acrossDrivers;
    return;
  }
  if (!condition_) return;
  intList columns;
  pSQLParameterList parameters;
  for (SQLRSSCColumnRef *ref : SQLRSSCLevelRefs(condition_.get())) {
    int c = ref->GetColumnId();
    bool outer = OuterIsRight() ? c >= nl : c < nl;
    if (!outer) continue;
    parameters.Append(NewParameter(c));
    columns.Append(c);
  }
  if (columns.NrElements() > 0) condition_->CRefs2ParameterRefs(0, &columns, &parameters);
  if (!OuterIsRight()) ShiftRefs(condition_.get(), -nl);
  SQLRSPushFilterInto(&InnerSlot(), std::move(condition_));
}

void SQLRSJoin::OptimizeNode() {
  left_->OptimizeNode();
  right_->OptimizeNode();
  if (condition_) condition_.reset(condition_.release()->Optimize());
}

void SQLRSJoin::PushHints(SQLHints *hints) {
  left_->PushHints(hints);
  right_->PushHints(hints);
}

SQLRowSource *SQLRSJoin::PushFilter(SQLRSSCSearchCond *condition, SQLRSSCSearchCond **residual) {
  std::unique_ptr<SQLRSJoin> self(this);
  *residual = nullptr;
  if (type_ == SQL_JOIN_FULL) {
    *residual = condition;
    return self.release();
  }
  std::vector<SQLRSSCSearchCondPtr> conjuncts = SQLRSSCTakeConjuncts(condition);
  int const nl = nL();
  int const off = OuterOffset();
  int const nP = Outer()->GetNumCols();
  std::vector<SQLRSSCSearchCondPtr> outerList, innerList, bothList, rest;
  std::vector<bool> isParameter(static_cast<size_t>(nl), false);
  if (type_ == SQL_JOIN_INNER)
    for (bool more = parameterColumns_.First(); more; more = parameterColumns_.Next())
      if (parameterColumns_.GetCurrent() < nl) isParameter[static_cast<size_t>(parameterColumns_.GetCurrent())] = true;
  for (SQLRSSCSearchCondPtr &c : conjuncts) {
    std::vector<SQLRSSCColumnRef *> refs = SQLRSSCLevelRefs(c.get());
    bool withinOuter = std::all_of(refs.begin(), refs.end(), [&](SQLRSSCColumnRef *r) {
      return r->GetColumnId() >= off && r->GetColumnId() < off + nP;
    });
    if (type_ == SQL_JOIN_INNER && SQLMayFailVisitor::Holds(c.get())) {
      // A conjunct that can fail is evaluated on the joined rows only: let
      // down to a side, it would fail on rows that no row of the other side
      // joins, which the statement never reaches (a FALSE operand of the
      // WHERE's AND decides them). One that reads no row is still looked at
      // once before the sides are read (YieldsNoRow).
      bothList.push_back(std::move(c));
    } else if (withinOuter) {
      if (OuterIsRight()) ShiftRefs(c.get(), -nl);
      outerList.push_back(std::move(c));
    } else if (type_ != SQL_JOIN_INNER) {
      rest.push_back(std::move(c));
    } else if (buffered_) {
      // The inner side is read once, not per outer row: a conjunct over
      // both sides joins the condition (and its equal columns the hash).
      if (std::all_of(refs.begin(), refs.end(), [&](SQLRSSCColumnRef *r) { return r->GetColumnId() >= nl; })) {
        ShiftRefs(c.get(), -nl);
        innerList.push_back(std::move(c));
      } else {
        bothList.push_back(std::move(c));
      }
    } else {
      bool anyLeft = false;
      for (SQLRSSCColumnRef *r : refs) {
        int col = r->GetColumnId();
        if (col >= nl) continue;
        anyLeft = true;
        if (!isParameter[static_cast<size_t>(col)]) {
          NewParameter(col);
          isParameter[static_cast<size_t>(col)] = true;
        }
      }
      if (anyLeft) c->CRefs2ParameterRefs(0, &parameterColumns_, &parameterList_);
      ShiftRefs(c.get(), -nl);
      innerList.push_back(std::move(c));
    }
  }
  SQLRSPushFilterInto(&OuterSlot(), SQLRSSCConjunction(std::move(outerList)));
  SQLRSPushFilterInto(&right_, SQLRSSCConjunction(std::move(innerList)));
  if (!bothList.empty()) {
    if (condition_) bothList.push_back(std::move(condition_));
    condition_ = SQLRSSCConjunction(std::move(bothList));
  }
  *residual = SQLRSSCConjunction(std::move(rest)).release();
  return self.release();
}

SQLRowSource *SQLRSJoin::PullFilter(SQLRSSCSearchCond **) { Unexpected("SQLRSJoin", "PullFilter"); }
SQLRowSource *SQLRSJoin::PullNullify(intList **, SQLRSSCSearchCond **) { Unexpected("SQLRSJoin", "PullNullify"); }
void SQLRSJoin::createQPsubquery(SQLColumnRef2QDBColumnIdMap *, SQLRSFetchParameters *, unsigned long) {
  Unexpected("SQLRSJoin", "createQPsubquery");
}

bool SQLRSJoin::PushSort(SQLSortSpecList *specifications) {
  int const nl = nL();
  int const off = OuterOffset();
  int const nP = Outer()->GetNumCols();
  for (bool more = specifications->First(); more; more = specifications->Next()) {
    SQLSortSpec const &s = specifications->GetCurrent();
    if (s.GetColumnId() < off || s.GetColumnId() >= off + nP) return false;
    // The unmatched right rows of a FULL join come last, with a NULL left
    // side: that is the place of NULLs in an ascending order only.
    if (type_ == SQL_JOIN_FULL && s.IsDescending()) return false;
  }
  if (!OuterIsRight()) return left_->PushSort(specifications);
  auto shifted = std::make_unique<SQLSortSpecList>();
  for (bool more = specifications->First(); more; more = specifications->Next()) {
    SQLSortSpec const &s = specifications->GetCurrent();
    shifted->Append(SQLSortSpec(s.GetColumnId() - nl, s.GetDirection()));
  }
  if (!right_->PushSort(shifted.get())) return false;
  shifted.release();  // the right side owns it now
  delete specifications;
  return true;
}

SQLRowSource *SQLRSJoin::PushGroup(intList *, List<SQLRSGroupSpec> *, bool *accepted) {
  *accepted = false;
  return this;
}

int SQLRSJoin::ProjectionTarget(SQLRSSCValueExpr *e) {
  if (!e->CanCopy() || HasOuterRefs(e)) return -1;
  int const nl = nL();
  std::vector<int> columns = LevelColumns(e);
  // A side computes only what every one of its rows reaches the result
  // with: the rows of an inner join's side, and those of the side an outer
  // join sets NULL, may be dropped, and an expression computed for one
  // of them (a division by zero, an overflow) would fail the statement
  // although no row of its result computes it.
  auto preserved = [this](int side) {
    return type_ == SQL_JOIN_FULL || (side == 0 && type_ == SQL_JOIN_LEFT) ||
           (side == 1 && type_ == SQL_JOIN_RIGHT);
  };
  if (columns.empty()) {
    // A constant is computed by a side that is kept whole and never set NULL.
    if (type_ == SQL_JOIN_FULL || type_ == SQL_JOIN_INNER) return -1;
    return type_ == SQL_JOIN_RIGHT ? 1 : 0;
  }
  int side = columns.front() < nl ? 0 : 1;
  for (int c : columns)
    if ((c < nl ? 0 : 1) != side || c < 0 || c >= nl + nR()) return -1;
  if (!preserved(side)) return -1;
  if (type_ != SQL_JOIN_FULL) return side;
  // The join sets this side's columns NULL for a row without partner; a
  // value computed by the side becomes NULL then too, which is right only
  // when the expression is NULL over NULL columns.
  List<Interval<int>> range;
  range.Append(side == 0 ? Interval<int>(0, nl - 1) : Interval<int>(nl, nl + nR() - 1));
  return e->NullValueOnNullifiedCols(0, &range) == TV_TRUE ? side : -1;
}

SQLRowSource *SQLRSJoin::PushProject(SQLRSSCValueExprRefPtrList *expressions) {
  std::unique_ptr<SQLRSJoin> self(this);
  int const nl = nL();
  int const n = nl + nR();
  ProjectionSide sides[2] = {
      {&left_, 0, nl, type_ == SQL_JOIN_RIGHT || type_ == SQL_JOIN_FULL, std::vector<bool>(static_cast<size_t>(nl)), {}, {}, {}},
      {&right_, nl, nR(), type_ == SQL_JOIN_LEFT || type_ == SQL_JOIN_FULL,
       std::vector<bool>(static_cast<size_t>(n - nl)), {}, {}, {}}};
  auto sideOf = [&](int c) -> ProjectionSide & { return sides[c < nl ? 0 : 1]; };

  // Columns the join reads itself, or that an expression computed above it reads.
  std::vector<bool> needed(static_cast<size_t>(n), false);
  auto need = [&](int c) {
    if (c >= 0 && c < n) needed[static_cast<size_t>(c)] = true;
  };
  std::vector<std::pair<int, RefPtr<SQLRSSCValueExpr>>> whole;  // (side, expression)
  for (bool more = expressions->First(); more; more = expressions->Next()) {
    RefPtr<SQLRSSCValueExpr> const &e = expressions->GetCurrent();
    if (SQLRSSCColumnRef *ref = PlainColumn(e.Get())) {
      need(ref->GetColumnId());
      continue;
    }
    int target = ProjectionTarget(e.Get());
    if (target >= 0) {
      whole.emplace_back(target, e);
      continue;
    }
    for (int c : LevelColumns(e.Get())) need(c);
  }
  if (condition_)
    for (SQLRSSCColumnRef *ref : SQLRSSCLevelRefs(condition_.get())) need(ref->GetColumnId());
  for (bool more = parameterColumns_.First(); more; more = parameterColumns_.Next()) need(parameterColumns_.GetCurrent());
  // Each side is offered its columns in ascending order, then the
  // expressions that it computes.
  for (int c = 0; c < n; ++c)
    if (needed[static_cast<size_t>(c)]) sideOf(c).PlaceColumn(c);
  for (auto const &[target, e] : whole) sides[target].PlaceWhole(e);

  // What the join now delivers, per new column: a former join column, an
  // expression that a side computes (-2 - index, per side), or -1.
  std::vector<int> delivered;
  std::vector<int> fromSide;
  for (int s = 0; s < 2; ++s) {
    ProjectionSide &side = sides[s];
    if (side.offer.NrElements() == 0) side.PlaceColumn(side.offset);  // a side always delivers a column
    side.child->reset(side.child->release()->PushProject(&side.offer));
    for (bool more = side.offer.First(); more; more = side.offer.Next()) {
      delivered.push_back(side.Delivered(side.offer.GetCurrent().Get()));
      fromSide.push_back(s);
    }
  }

  // The offer comes back as what the join now delivers, in its former
  // numbering, so that the caller can rename its expressions.
  std::vector<int> position(static_cast<size_t>(n), -1);  // former join column -> new position
  *expressions = SQLRSSCValueExprRefPtrList();
  int const newLeft = left_->GetNumCols();
  for (size_t i = 0; i < delivered.size(); ++i) {
    int c = delivered[i];
    int at = static_cast<int>(i);
    if (c >= 0 && position[static_cast<size_t>(c)] == -1) position[static_cast<size_t>(c)] = at;
    if (c <= -2) {
      expressions->Append(sides[fromSide[i]].originals[static_cast<size_t>(-2 - c)]);
      continue;
    }
    SQLColumnDescriptor const *d =
        at < newLeft ? left_->GetColumnDescriptor(at) : right_->GetColumnDescriptor(at - newLeft);
    expressions->Append(RefPtr<SQLRSSCValueExpr>(new SQLRSSCColumnRef(0, c >= 0 ? c : n + at, d)));
  }
  auto moved = [&](int c) {
    int p = c >= 0 && c < n ? position[static_cast<size_t>(c)] : -1;
    if (p < 0) SQLAbort(__FILE__, __LINE__, "SQLRSJoin::PushProject: column %d is not delivered", c);
    return p;
  };
  if (condition_)
    for (SQLRSSCColumnRef *ref : SQLRSSCLevelRefs(condition_.get())) ref->SetColumnId(moved(ref->GetColumnId()));
  for (bool more = parameterColumns_.First(); more; more = parameterColumns_.Next())
    parameterColumns_.SetCurrent(moved(parameterColumns_.GetCurrent()));
  return self.release();
}

SQLRSJoin *SQLRSJoin::JoinPreservedSideFirst(List<SQLRSSCSearchCond const *> *filters) {
  auto *below = dynamic_cast<SQLRSJoin *>(left_.get());
  if (type_ != SQL_JOIN_INNER || below == nullptr || below->type_ != SQL_JOIN_RIGHT || condition_ == nullptr ||
      parameterColumns_.NrElements() > 0 || below->parameterColumns_.NrElements() > 0)
    return nullptr;
  int const na = below->nL();
  // An enclosing conjunct on C alone lets this join read C once, filtered
  // (OptimizeJoin); the join below the RIGHT join would not see it.
  if (SideConjunct(filters, nL(), nL() + nR(), nullptr)) return nullptr;
  std::vector<SQLRSSCColumnRef *> refs = SQLRSSCLevelRefs(condition_.get());
  if (std::any_of(refs.begin(), refs.end(), [na](SQLRSSCColumnRef *r) { return r->GetColumnId() < na; }))
    return nullptr;
  // The driver of C's table, when it can also run the RIGHT join, is
  // handed all three and orders them itself.
  SQLDatabaseInstance const *theirs = SideInstance(right_.get());
  if (theirs != nullptr &&
      SQLOperatesOnThisDBInstanceVisitor::Holds(left_.get(), const_cast<SQLDatabaseInstance *>(theirs)))
    return nullptr;
  ShiftRefs(condition_.get(), -na);
  auto *top = static_cast<SQLRSJoin *>(left_.release());
  left_.reset(top->right_.release());
  top->right_.reset(this);
  return top;
}

void SQLRSJoin::MakeOuterJoinsInner(std::vector<Enclosing> const &enclosing) {
  int const nl = nL();
  int const nr = nR();
  // TRUE when no enclosing condition can be TRUE with the columns [from,
  // to) of this join all NULL.
  auto rejected = [&](int from, int to) {
    if (enclosing.empty() || from >= to) return false;
    SQLTruthValueSet possible;
    possible.Insert(TV_TRUE, TV_FALSE, TV_UNKNOWN);
    for (Enclosing const &e : enclosing) {
      List<Interval<int>> columns;
      columns.Append(Interval<int>(e.offset + from, e.offset + to - 1));
      possible = possible.And(const_cast<SQLRSSCSearchCond *>(e.condition)->PossibleValuesOnNullifiedCols(0, &columns));
    }
    return !possible.Contains(TV_TRUE);
  };
  bool const leftRejected = type_ != SQL_JOIN_INNER && type_ != SQL_JOIN_LEFT && rejected(0, nl);
  bool const rightRejected = type_ != SQL_JOIN_INNER && type_ != SQL_JOIN_RIGHT && rejected(nl, nl + nr);
  if (type_ == SQL_JOIN_FULL) {
    // A FULL join's rows without a left partner have a NULL left side.
    if (leftRejected) type_ = rightRejected ? SQL_JOIN_INNER : SQL_JOIN_LEFT;
    else if (rightRejected) type_ = SQL_JOIN_RIGHT;
  } else if (leftRejected || rightRejected) {
    type_ = SQL_JOIN_INNER;
  }
  for (int side = 0; side < 2; ++side) {
    bool const reached = type_ == SQL_JOIN_INNER || (side == 0 ? type_ == SQL_JOIN_LEFT : type_ == SQL_JOIN_RIGHT);
    if (!reached) continue;
    std::vector<Enclosing> below;
    for (Enclosing const &e : enclosing) below.push_back({e.condition, e.offset + (side == 0 ? 0 : nl)});
    // An INNER join's own condition drops the rows it is not TRUE on, as
    // an enclosing one does.
    if (type_ == SQL_JOIN_INNER && condition_ != nullptr) below.push_back({condition_.get(), side == 0 ? 0 : nl});
    SQLRowSource *node = side == 0 ? left_.get() : right_.get();
    while (auto *filter = dynamic_cast<SQLRSFilter *>(node)) {
      if (filter->GetCondition() != nullptr) below.push_back({filter->GetCondition(), 0});
      node = filter->GetChild();
    }
    if (auto *join = dynamic_cast<SQLRSJoin *>(node)) join->MakeOuterJoinsInner(below);
  }
}

SQLRowSource *SQLRSJoin::CombineJoin(SQLDatabaseInstance **instance, int *tableCount,
                                     List<SQLRSSCSearchCond const *> *filters, bool *combinable) {
  std::unique_ptr<SQLRSJoin> self(this);
  *instance = nullptr;
  *tableCount = 0;
  *combinable = false;
  int const nl = nL();
  int const nr = nR();
  {
    std::vector<Enclosing> enclosing;
    for (bool more = filters != nullptr && filters->First(); more; more = filters->Next())
      enclosing.push_back({filters->GetCurrent(), 0});
    MakeOuterJoinsInner(enclosing);
  }
  if (SQLRSJoin *top = JoinPreservedSideFirst(filters)) {
    static_cast<void>(self.release());  // the new top owns this join
    return top->CombineJoin(instance, tableCount, filters, combinable);
  }
  SQLDatabaseInstance *li = nullptr, *ri = nullptr;
  int lt = 0, rt = 0;
  bool lc = false, rc = false;
  right_.reset(right_.release()->CombineJoin(&ri, &rt, nullptr, &rc));
  std::unique_ptr<SQLDatabaseInstance> rightInstance(ri);
  left_.reset(left_.release()->CombineJoin(&li, &lt, filters, &lc));
  std::unique_ptr<SQLDatabaseInstance> leftInstance(li);
  // A RIGHT join whose inner (left) side joins tables itself, as in two
  // RIGHT joins in a row, is shipped to a driver that takes conditions
  // inside its joins: it writes that side as one operand of its own.
  bool ok = lc && rc && leftInstance && rightInstance && leftInstance->IsCompatible(rightInstance.get()) &&
            leftInstance->MaxTablesJoined() >= lt + rt && type_ != SQL_JOIN_FULL &&
            !(type_ == SQL_JOIN_LEFT && rt > 1) &&
            !(type_ == SQL_JOIN_RIGHT && lt > 1 && !leftInstance->SupportsFiltersInJoins());
  if (ok && condition_ && (type_ == SQL_JOIN_LEFT || type_ == SQL_JOIN_RIGHT)) ok = condition_->IsEqSearchCondition(nL());
  // The condition travels into the driver's query: a subquery over a table
  // of another driver (or anything else that driver cannot evaluate) keeps
  // the join here, and the library evaluates what the driver cannot.
  if (ok && condition_) ok = SQLOperatesOnThisDBInstanceVisitor::Holds(condition_.get(), leftInstance.get());
  // An enclosing conjunct that reads one side's columns only and that the
  // driver cannot evaluate acts on that side's rows before the join when the
  // join stays here (where the join lets it down: either side of an INNER
  // join, the preserved side of an outer join); joined in the driver, it
  // would be evaluated for every joined row instead.
  if (ok && filters != nullptr) {
    bool const toLeft = type_ == SQL_JOIN_INNER || type_ == SQL_JOIN_LEFT;
    bool const toRight = type_ == SQL_JOIN_INNER || type_ == SQL_JOIN_RIGHT;
    if ((toLeft && SideConjunct(filters, 0, nl, leftInstance.get())) ||
        (toRight && SideConjunct(filters, nl, nl + nr, leftInstance.get())))
      ok = false;
  }
  bool const filtersInJoins = ok && leftInstance->SupportsFiltersInJoins();
  // Without filters in the driver's join, a filter of the outer side (or of
  // either side of an INNER join) goes above the joined leaf. One on the
  // inner side of an outer join must act before the NULL row is made, so
  // such a join stays here.
  if (ok && !filtersInJoins)
    ok = LeafForJoinWithoutFilters(Outer(), true) && LeafForJoinWithoutFilters(Inner(), type_ == SQL_JOIN_INNER);
  if (!ok) return self.release();
  std::vector<SQLRSSCSearchCondPtr> pulled;
  if (!filtersInJoins) {
    SQLRSSCSearchCondPtr fromLeft = PullSideFilter(&left_, 0);
    if (fromLeft) pulled.push_back(std::move(fromLeft));
    SQLRSSCSearchCondPtr fromRight = PullSideFilter(&right_, nl);
    if (fromRight) pulled.push_back(std::move(fromRight));
  }
  SQLRSSCSearchCondPtr filter = SQLRSSCConjunction(std::move(pulled));
  std::unique_ptr<SQLRowSource> right(right_.release());
  std::unique_ptr<SQLRowSource> left(left_.release());
  SQLRSSCSearchCondPtr condition(std::move(condition_));
  SQLJoinType const type = type_;
  self.reset();  // the join leaves the tree
  std::unique_ptr<SQLRowSource> leaf(right.release()->CreateJoin(type, left.release(), condition.release()));
  if (filter) leaf.reset(new SQLRSFilter(leaf.release(), filter.release()));
  *combinable = true;
  *tableCount = lt + rt;
  *instance = leftInstance.release();
  return leaf.release();
}

void SQLRSJoin::createTokenString(SQLTokenString *ts, int level, SQLRSNetFetchParams *params) {
  ts->AppendToken(SQLNWTRSJoin);
  ts->AppendJoinType(type_);
  if (condition_)
    condition_->createTokenString(ts, level, params);
  else
    ts->AppendToken(SQLNWTNull);
  left_->createTokenString(ts, level, params);
  right_->createTokenString(ts, level, params);
}

void SQLRSJoin::DoLog() {
  static char const *const kTypes[] = {"INNER", "LEFT OUTER", "RIGHT OUTER", "FULL OUTER"};
  SQLLogger &log = *SQLLogger::Instance();
  log << "SQLRSJoin(" << endl << incind << "JoinType: " << kTypes[type_ & 3] << endl << "LeftRS: ";
  left_->Log();
  log << "RightRS: ";
  right_->Log();
  log << "Join condition: ";
  if (condition_)
    condition_->Log();
  else
    log << "-- none --";
  log << endl << decind << ")" << endl;
}

void SQLRSJoin::DoAcceptVisit(SQLVisitor &visitor) {
  left_->AcceptVisit(visitor);
  visitor.Scope()->PopRowSource();
  right_->AcceptVisit(visitor);
  visitor.Scope()->PopRowSource();
  visitor.Scope()->PushRowSource(this);
  if (condition_) condition_->AcceptVisit(visitor);
  visitor.VisitSQLRSJoin(this);
}

// ================================================================ SQLRSConstLeftOuterJoin

SQLRSConstLeftOuterJoin::SQLRSConstLeftOuterJoin(SQLRowSource *child, SQLRSSCSearchCond *condition)
    : child_(child), condition_(condition) {}

SQLRSConstLeftOuterJoin::~SQLRSConstLeftOuterJoin() = default;

void SQLRSConstLeftOuterJoin::GetColumnRefs(int level, SQLRSSCColumnRefType type, pSQLRSSCColumnRefList *refs) {
  child_->GetColumnRefs(level, type, refs);
  if (condition_) condition_->GetColumnRefs(level, type, refs);
}

void SQLRSConstLeftOuterJoin::CRefs2ParameterRefs(int level, intList *columns, pSQLParameterList *parameters) {
  child_->CRefs2ParameterRefs(level, columns, parameters);
  if (condition_) condition_->CRefs2ParameterRefs(level, columns, parameters);
}

SQLRowSource *SQLRSConstLeftOuterJoin::OptimizeTree(SQLHints *hints, List<SQLRSSCSearchCond const *> *filters) {
  SQLDatabaseInstance *instance = nullptr;
  int tables = 0;
  bool combinable = false;
  SQLRowSource *combined = CombineJoin(&instance, &tables, filters, &combinable);  // takes this over
  std::unique_ptr<SQLDatabaseInstance> owned(instance);
  if (combinable) return combined->OptimizeTree(hints, nullptr);
  // A join that cannot be combined stays itself.
  std::unique_ptr<SQLRSConstLeftOuterJoin> self(this);
  child_.reset(child_.release()->OptimizeTree(hints, nullptr));
  if (condition_) {
    SQLRSSCSearchCond *rest = nullptr;
    child_.reset(child_.release()->PushFilter(condition_.release(), &rest));
    SQLRSSCSearchCondPtr kept(rest);
    if (kept != nullptr) child_.reset(new SQLRSFilter(child_.release(), kept.release()));
  }
  return self.release();
}

void SQLRSConstLeftOuterJoin::OptimizeNode() {
  child_->OptimizeNode();
  if (condition_) condition_.reset(condition_.release()->Optimize());
}

SQLRowSource *SQLRSConstLeftOuterJoin::PushFilter(SQLRSSCSearchCond *condition, SQLRSSCSearchCond **residual) {
  *residual = condition;
  return this;
}

SQLRowSource *SQLRSConstLeftOuterJoin::PullFilter(SQLRSSCSearchCond **) {
  Unexpected("SQLRSConstLeftOuterJoin", "PullFilter");
}
SQLRowSource *SQLRSConstLeftOuterJoin::PullNullify(intList **, SQLRSSCSearchCond **) {
  Unexpected("SQLRSConstLeftOuterJoin", "PullNullify");
}
void SQLRSConstLeftOuterJoin::createQPsubquery(SQLColumnRef2QDBColumnIdMap *, SQLRSFetchParameters *,
                                               unsigned long) {
  Unexpected("SQLRSConstLeftOuterJoin", "createQPsubquery");
}

SQLRowSource *SQLRSConstLeftOuterJoin::PushGroup(intList *, List<SQLRSGroupSpec> *, bool *accepted) {
  *accepted = false;
  return this;
}

SQLRowSource *SQLRSConstLeftOuterJoin::PushProject(SQLRSSCValueExprRefPtrList *expressions) {
  std::unique_ptr<SQLRSConstLeftOuterJoin> self(this);
  if (condition_) SQLRSOfferColumnsOnly(expressions, child_.get());
  std::vector<SQLRSSCColumnRef *> refs =
      condition_ ? SQLRSSCLevelRefs(condition_.get()) : std::vector<SQLRSSCColumnRef *>{};
  auto plainPosition = [&](int column) {
    int i = 0;
    for (bool more = expressions->First(); more; more = expressions->Next(), ++i) {
      SQLRSSCValueExpr *e = expressions->GetCurrent().Get();
      if (!e->IsColumnRef()) continue;
      auto *ref = static_cast<SQLRSSCColumnRef *>(e);
      if (ref->GetRelScopeLevel() == 0 && ref->GetColumnId() == column) return i;
    }
    return -1;
  };
  for (SQLRSSCColumnRef *ref : refs) {
    int c = ref->GetColumnId();
    if (plainPosition(c) < 0)
      expressions->Append(RefPtr<SQLRSSCValueExpr>(new SQLRSSCColumnRef(0, c, child_->GetColumnDescriptor(c))));
  }
  child_.reset(child_.release()->PushProject(expressions));
  std::vector<int> positions;
  for (SQLRSSCColumnRef *ref : refs) positions.push_back(plainPosition(ref->GetColumnId()));
  for (size_t i = 0; i < refs.size(); ++i) refs[i]->SetColumnId(positions[i]);
  return self.release();
}

SQLRowSource *SQLRSConstLeftOuterJoin::CombineJoin(SQLDatabaseInstance **instance, int *tableCount,
                                                   List<SQLRSSCSearchCond const *> *, bool *combinable) {
  std::unique_ptr<SQLRSConstLeftOuterJoin> self(this);
  *instance = nullptr;
  *combinable = false;
  SQLDatabaseInstance *ci = nullptr;
  int tables = 0;
  bool childCombinable = false;
  child_.reset(child_.release()->CombineJoin(&ci, &tables, nullptr, &childCombinable));
  std::unique_ptr<SQLDatabaseInstance> childInstance(ci);
  // Without filters in the driver's join, a filter of the child would have
  // to act before the NULL row is made: the join then stays here.
  if (!childCombinable || !childInstance || tables + 1 > childInstance->MaxTablesJoined() ||
      (condition_ && !SQLOperatesOnThisDBInstanceVisitor::Holds(condition_.get(), childInstance.get())) ||
      (!childInstance->SupportsFiltersInJoins() && !LeafForJoinWithoutFilters(child_.get(), false)))
    return self.release();
  std::unique_ptr<SQLRowSource> child(child_.release());
  SQLRSSCSearchCondPtr condition(std::move(condition_));
  self.reset();  // the join leaves the tree
  SQLRSFetch *leaf = child.release()->CreateConstLeftOuterJoin(condition.release());
  *combinable = true;
  *tableCount = tables + 1;
  *instance = childInstance.release();
  return leaf;
}

void SQLRSConstLeftOuterJoin::createTokenString(SQLTokenString *ts, int level, SQLRSNetFetchParams *params) {
  ts->AppendToken(SQLNWTRSConstLeftOuterJoin);
  if (condition_)
    condition_->createTokenString(ts, level, params);
  else
    ts->AppendToken(SQLNWTNull);
  child_->createTokenString(ts, level, params);
}

void SQLRSConstLeftOuterJoin::DoPrepare(SQLRSPrepareContext *context) {
  child_->Prepare(context);
  int n = child_->GetNumCols();
  own_ = std::vector<SQLValueStore>(static_cast<size_t>(n));
  copyFrom_.clear();
  for (int c = 0; c < n; ++c) {
    InitOwnStore(&own_[static_cast<size_t>(c)], child_->GetColumnDescriptor(c));
    copyFrom_.push_back(child_->GetValueStoreAddr(c));
  }
  if (condition_) {
    SQLRSScopedRow row(context->Scope(), child_.get());
    condition_->Prepare(context);
  }
}

void SQLRSConstLeftOuterJoin::DoExec() {
  child_->Exec();
  state_ = 1;
}

int SQLRSConstLeftOuterJoin::DoFetch() {
  if (state_ == 0) return 0;
  while (child_->Fetch() != 0) {
    if (condition_ && condition_->Evaluate() != TV_TRUE) continue;
    for (size_t i = 0; i < own_.size(); ++i) own_[i].Copy(copyFrom_[i]);
    state_ = 2;
    return 1;
  }
  child_->Break();
  bool none = state_ == 1;
  state_ = 0;
  if (!none) return 0;
  for (SQLValueStore &v : own_) SetStoreNull(&v);
  return 1;
}

void SQLRSConstLeftOuterJoin::DoBreak() {
  if (state_ == 1 || state_ == 2) child_->Break();
  if (condition_) condition_->Reset();
}

void SQLRSConstLeftOuterJoin::DoLog() {
  SQLLogger &log = *SQLLogger::Instance();
  log << "SQLRSConstLeftOuterJoin(" << endl << incind << "ChildRS: ";
  child_->Log();
  log << "Join condition: ";
  if (condition_)
    condition_->Log();
  else
    log << "-- none --";
  log << endl << decind << ")" << endl;
}

void SQLRSConstLeftOuterJoin::DoAcceptVisit(SQLVisitor &visitor) {
  child_->AcceptVisit(visitor);
  visitor.VisitSQLRSConstLeftOuterJoin(this);
  visitor.Scope()->PopRowSource();
  visitor.Scope()->PushRowSource(this);
  if (condition_) condition_->AcceptVisit(visitor);
}
