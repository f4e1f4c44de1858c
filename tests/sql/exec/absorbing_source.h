// Helpers of the optimiser tests: conditions over integer columns, and a
// child that answers the optimiser's messages the way a table leaf would.
#pragma once

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "sql/agent/nw_token.h"
#include "sql/agent/token_string.h"
#include "sql/common/sql_hints.h"
#include "sql/exec/rs_group.h"
#include "sql/exec/sc_column_ref.h"
#include "sql/exec/sc_comparison.h"
#include "sql/exec/sc_const.h"
#include "sql/exec/sort_spec.h"
#include "sql/exec/visitor.h"
#include "test_row_source.h"

namespace molvane::test {

inline SQLColumnDescriptor const kIntColumn("x", SQL_INTEGER, 4, 1);

inline pSQLRSSCValueExprList *Items(SQLRSSCValueExpr *e) {
  auto *list = new pSQLRSSCValueExprList;
  list->Append(e);
  return list;
}

inline SQLRSSCColumnRef *Col(int c) { return new SQLRSSCColumnRef(0, c, &kIntColumn); }

// column <op> value
inline SQLRSSCSearchCond *Cmp(int column, SQLRSSCCompOperator op, int value) {
  return new SQLRSSCComparison(Items(Col(column)), op, Items(new SQLRSSCIntegerConst(value)));
}

// The level-0 columns a condition reads, in order.
inline std::vector<int> Columns(SQLRSSCSearchCond *c) {
  pSQLRSSCColumnRefList refs;
  c->GetColumnRefs(0, SQL_CREF_LEVEL, &refs);
  std::vector<int> out;
  for (bool more = refs.First(); more; more = refs.Next()) out.push_back(refs.GetCurrent()->GetColumnId());
  return out;
}

inline std::string Bytes(SQLTokenString const &ts) {
  unsigned char const *b;
  int n;
  ts.GetString(b, n);
  return std::string(reinterpret_cast<char const *>(b), static_cast<size_t>(n));
}

inline int Conjuncts(SQLRSSCSearchCond *c) {
  auto *a = dynamic_cast<SQLRSSCAnd *>(c);
  return a ? a->NrOperands() : 1;
}

// A child that answers the optimiser's messages the way a table leaf would,
// and records what it is given.
class Absorbing : public VectorRowSource {
 public:
  using VectorRowSource::VectorRowSource;

  // PushFilter: takes the conjuncts that read only columns in `shippable`,
  // but none that holds a subquery when `refuseSubqueries` (a leaf and a
  // subquery over another driver).
  std::vector<int> shippable;
  bool refuseSubqueries = false;
  std::vector<std::unique_ptr<SQLRSSCSearchCond>> taken;
  int enclosingSeen = -1;  // length of the conditions list at OptimizeTree
  SQLRSSCSearchCond const *enclosingHead = nullptr;
  bool acceptGroup = false;
  bool acceptSort = false;
  std::unique_ptr<intList> groupColumns;
  std::unique_ptr<List<SQLRSGroupSpec>> groupSpecs;
  std::unique_ptr<SQLHints> optimizeHints, pushedHints;

  // A local source never forms a driver join.
  SQLRowSource *CombineJoin(SQLDatabaseInstance **instance, int *tables, List<SQLRSSCSearchCond const *> *,
                            bool *combinable) override {
    *instance = nullptr;
    *tables = 0;
    *combinable = false;
    return this;
  }
  SQLRowSource *OptimizeTree(SQLHints *hints, List<SQLRSSCSearchCond const *> *filters) override {
    if (hints) optimizeHints = std::make_unique<SQLHints>(*hints);
    if (filters) {
      enclosingSeen = filters->NrElements();
      if (filters->First()) enclosingHead = filters->GetCurrent();
    }
    return this;
  }
  void PushHints(SQLHints *hints) override { pushedHints = std::make_unique<SQLHints>(*hints); }
  SQLRowSource *PushFilter(SQLRSSCSearchCond *condition, SQLRSSCSearchCond **residual) override {
    pSQLRSSCSearchCondList conjuncts;
    condition->CollapseAnd(&conjuncts);
    std::vector<SQLRSSCSearchCond *> rest;
    for (bool more = conjuncts.First(); more; more = conjuncts.Next()) {
      SQLRSSCSearchCond *c = conjuncts.GetCurrent();
      bool ok = true;
      for (int col : Columns(c)) ok = ok && std::find(shippable.begin(), shippable.end(), col) != shippable.end();
      if (refuseSubqueries && HoldsSubquery(c)) ok = false;
      if (ok)
        taken.emplace_back(c);
      else
        rest.push_back(c);
    }
    *residual = nullptr;
    if (rest.size() == 1) *residual = rest[0];
    if (rest.size() > 1) {
      auto *list = new pSQLRSSCSearchCondList;
      for (auto *c : rest) list->Append(c);
      *residual = new SQLRSSCAnd(list);
    }
    return this;
  }
  std::vector<std::pair<int, int>> sortSeen;  // (column, direction) of the last offer
  bool PushSort(SQLSortSpecList *s) override {
    sortSeen.clear();
    for (bool more = s->First(); more; more = s->Next())
      sortSeen.emplace_back(s->GetCurrent().GetColumnId(), s->GetCurrent().GetDirection());
    if (acceptSort) delete s;
    return acceptSort;
  }
  SQLRowSource *PushGroup(intList *columns, List<SQLRSGroupSpec> *specs, bool *ok) override {
    *ok = acceptGroup;
    if (acceptGroup) {
      groupColumns.reset(columns);
      groupSpecs.reset(specs);
    }
    return this;
  }
  void createTokenString(SQLTokenString *ts, int, SQLRSNetFetchParams *) override {
    ts->AppendToken(SQLNWTRSTable);
  }
  // PushProject as a table leaf answers it: computed expressions are kept
  // only with shipComputed, otherwise replaced by the columns they read;
  // the output then follows the list (layout: the former column of each
  // output column, -1 for a computed one).
  bool leafProject = false;
  bool shipComputed = false;
  std::vector<int> layout;
  SQLRowSource *PushProject(SQLRSSCValueExprRefPtrList *list) override {
    if (leafProject) {
      int n = DoGetNumCols();
      std::vector<bool> needed(static_cast<size_t>(n), false), delivered(static_cast<size_t>(n), false);
      for (bool more = list->First(); more; more = list->Next()) {
        SQLRSSCValueExpr *e = list->GetCurrent().Get();
        if (e->IsColumnRef()) {
          delivered[static_cast<size_t>(static_cast<SQLRSSCColumnRef *>(e)->GetColumnId())] = true;
        } else if (!shipComputed) {
          pSQLRSSCColumnRefList refs;
          e->GetColumnRefs(0, SQL_CREF_LEVEL, &refs);
          for (bool r = refs.First(); r; r = refs.Next()) needed[static_cast<size_t>(refs.GetCurrent()->GetColumnId())] = true;
          list->DeleteCurrent();
        }
      }
      for (int c = 0; c < n; ++c)
        if (needed[static_cast<size_t>(c)] && !delivered[static_cast<size_t>(c)])
          list->Append(RefPtr<SQLRSSCValueExpr>(Col(c)));
      if (list->NrElements() == 0) list->Append(RefPtr<SQLRSSCValueExpr>(Col(0)));
    }
    std::vector<int> out;
    for (bool more = list->First(); more; more = list->Next()) {
      SQLRSSCValueExpr *e = list->GetCurrent().Get();
      out.push_back(e->IsColumnRef() ? static_cast<SQLRSSCColumnRef *>(e)->GetColumnId() : -1);
    }
    projected = out;
    offered.clear();
    for (bool more = list->First(); more; more = list->Next()) offered.push_back(list->GetCurrent());
    if (leafProject) layout = out;
    return this;
  }
  static bool HoldsSubquery(SQLRSSCSearchCond *c) {
    struct Finder : SQLVisitor {
      bool found = false;
      void VisitSQLRSSCExists(SQLRSSCExists *) override { found = true; }
      void VisitSQLRSSCInSubquery(SQLRSSCInSubquery *) override { found = true; }
      void VisitSQLRSSCScalarSubquery(SQLRSSCScalarSubquery *) override { found = true; }
    } finder;
    c->AcceptVisit(finder);
    return finder.found;
  }
  std::vector<int> projected;  // column of each plain column reference offered, -1 else
  std::vector<RefPtr<SQLRSSCValueExpr>> offered;  // what the leaf delivers after the last offer

 protected:
  int DoGetNumCols() override {
    return layout.empty() ? VectorRowSource::DoGetNumCols() : static_cast<int>(layout.size());
  }
  SQLValueStore const *DoGetValueStoreAddr(int i) override {
    return VectorRowSource::DoGetValueStoreAddr(layout.empty() ? i : layout[static_cast<size_t>(i)]);
  }
  SQLColumnDescriptor const *DoGetColumnDescriptor(int i) override {
    if (layout.empty()) return VectorRowSource::DoGetColumnDescriptor(i);
    int c = layout[static_cast<size_t>(i)];
    return c < 0 ? &kIntColumn : VectorRowSource::DoGetColumnDescriptor(c);
  }
};

}  // namespace molvane::test
