#include "sql/exec/rs_group.h"

#include <algorithm>

#include "sql/agent/nw_token.h"
#include "sql/agent/token_string.h"
#include "sql/common/container_exceptions.h"
#include "sql/common/sql_abort.h"
#include "sql/common/sql_logger.h"
#include "sql/exec/column_ref_scope.h"
#include "sql/exec/sc_column_ref.h"
#include "sql/exec/sc_search_cond.h"
#include "sql/exec/visitor.h"

namespace {

[[noreturn]] void Unexpected(char const *operation) {
  SQLAbort(__FILE__, __LINE__, "Unexpected message SQLRSGroup::%s", operation);
}

// A NULL of the given type, so that copies of it stay typed.
void SetTypedNull(SQLValueStore *v, SQLType type) {
  switch (type) {
    case SQL_INTEGER: v->SetInteger(0); break;
    case SQL_REAL: v->SetReal(0.0); break;
    case SQL_DATE: v->SetDate(0); break;
    case SQL_TIMESTAMP: v->SetTimestamp(0); break;
    case SQL_INTERVAL_DAYS: v->SetIntervalDays(0); break;
    case SQL_INTERVAL_SECONDS: v->SetIntervalSeconds(0); break;
    case SQL_STRING: v->SetString(nullptr, 0); break;
    default: v->SetRaw(nullptr, 0); break;
  }
  v->SetNull();
}

double AsDouble(SQLValueStore const *v) {
  return v->GetType() == SQL_REAL ? v->GetReal() : static_cast<double>(v->GetInteger());
}

SQLColumnDescriptor Nameless(SQLColumnDescriptor const &d) {
  return SQLColumnDescriptor("", d.GetType(), d.GetLength(), d.GetDepth());
}

// -1, 0 or 1: NULL after every value, equal by "=", else by "<".
int CompareScalar(SQLValueStore const *a, SQLValueStore const *b) {
  bool nullA = a->IsNull(), nullB = b->IsNull();
  if (nullA || nullB) return nullA == nullB ? 0 : (nullA ? 1 : -1);
  if (SQLValueStore::Compare(a, b, SQL_COMP_EQ) == TV_TRUE) return 0;
  return SQLValueStore::Compare(a, b, SQL_COMP_LT) == TV_TRUE ? -1 : 1;
}

int CompareKeyValue(SQLValueStore const *a, SQLValueStore const *b) {
  if (a->GetType() != SQL_ARRAY || b->GetType() != SQL_ARRAY) return CompareScalar(a, b);
  int n = std::min(a->GetDimension(), b->GetDimension());
  for (int i = 0; i < n; ++i)
    if (int c = CompareScalar(a->GetElement(i), b->GetElement(i)); c != 0) return c;
  return a->GetDimension() == b->GetDimension() ? 0 : (a->GetDimension() < b->GetDimension() ? -1 : 1);
}

char const *FunctionName(int function) {
  switch (function) {
    case SQLRSGroupSpec::kMin: return "MIN(";
    case SQLRSGroupSpec::kMax: return "MAX(";
    case SQLRSGroupSpec::kSum: return "SUM(";
    case SQLRSGroupSpec::kAvg: return "AVG(";
    case SQLRSGroupSpec::kCount: return "COUNT(";
    default: return "?(";
  }
}

}  // namespace

void SQLRSGroupSpec::Log() const {
  SQLLogger &log = *SQLLogger::Instance();
  log << "GroupSpec(";
  switch (kind_) {
    case kGroupingColumn: log << column_; break;
    case kSetFunction:
      log << FunctionName(function_);
      if (expression_) expression_->Log();
      log << ")";
      break;
    default: log << "COUNT(*)"; break;
  }
  log << ")" << endl;
}

SQLRSGroup::SQLRSGroup(SQLRowSource *child, intList *groupingColumns, List<SQLRSGroupSpec> *specs)
    : child_(child), groupingColumns_(groupingColumns), specs_(specs) {}

SQLRSGroup::~SQLRSGroup() = default;

// ---- messages forwarded to the child ----
// Set-function arguments never read outer rows (name resolution refuses
// that); a condition kept here from PushFilter may.

void SQLRSGroup::GetColumnRefs(int level, SQLRSSCColumnRefType type, pSQLRSSCColumnRefList *refs) {
  if (filter_) filter_->GetColumnRefs(level, type, refs);
  child_->GetColumnRefs(level, type, refs);
}

bool SQLRSGroup::RejectsAllOnNullifiedCols(int level, List<Interval<int>> *columns) {
  return child_->RejectsAllOnNullifiedCols(level, columns);
}

void SQLRSGroup::CRefs2ParameterRefs(int level, intList *columns, pSQLParameterList *parameters) {
  if (filter_) filter_->CRefs2ParameterRefs(level, columns, parameters);
  child_->CRefs2ParameterRefs(level, columns, parameters);
}

SQLRowSource *SQLRSGroup::OptimizeTree(SQLHints *hints, List<SQLRSSCSearchCond const *> *) {
  child_.reset(child_.release()->OptimizeTree(hints, nullptr));
  bool accepted = false;
  child_.reset(child_.release()->PushGroup(groupingColumns_.get(), specs_.get(), &accepted));
  if (!accepted) return this;
  groupingColumns_.release();  // the child owns both lists now
  specs_.release();
  SQLRowSource *child = child_.release();
  delete this;
  return child;
}

void SQLRSGroup::OptimizeNode() {
  for (bool more = specs_->First(); more; more = specs_->Next()) {
    SQLRSGroupSpec const &spec = specs_->GetCurrent();
    if (spec.GetKind() == SQLRSGroupSpec::kSetFunction) spec.GetExpression()->Optimize();
  }
  if (filter_) filter_.reset(filter_.release()->Optimize());
  child_->OptimizeNode();
}

void SQLRSGroup::PushHints(SQLHints *hints) { child_->PushHints(hints); }

// ---- messages a group never receives ----

SQLRowSource *SQLRSGroup::PullFilter(SQLRSSCSearchCond **) { Unexpected("PullFilter"); }
SQLRowSource *SQLRSGroup::PullNullify(intList **, SQLRSSCSearchCond **) { Unexpected("PullNullify"); }
SQLRowSource *SQLRSGroup::PushGroup(intList *, List<SQLRSGroupSpec> *, bool *) { Unexpected("PushGroup"); }
SQLRowSource *SQLRSGroup::CombineJoin(SQLDatabaseInstance **, int *, List<SQLRSSCSearchCond const *> *,
                                      bool *) {
  Unexpected("CombineJoin");
}
void SQLRSGroup::createQPsubquery(SQLColumnRef2QDBColumnIdMap *, SQLRSFetchParameters *, unsigned long) {
  Unexpected("createQPsubquery");
}

// ---- rewrites ----

SQLRowSource *SQLRSGroup::PushFilter(SQLRSSCSearchCond *condition, SQLRSSCSearchCond **residual) {
  std::vector<int> map;
  for (bool more = specs_->First(); more; more = specs_->Next()) {
    SQLRSGroupSpec const &spec = specs_->GetCurrent();
    map.push_back(spec.GetKind() == SQLRSGroupSpec::kGroupingColumn ? spec.GetColumn() : -1);
  }
  pSQLRSSCSearchCondList conjuncts;
  condition->CollapseAnd(&conjuncts);
  std::vector<SQLRSSCSearchCondPtr> below, rest;
  for (bool more = conjuncts.First(); more; more = conjuncts.Next()) {
    SQLRSSCSearchCondPtr conjunct(conjuncts.GetCurrent());
    pSQLRSSCColumnRefList refs;
    conjunct->GetColumnRefs(0, SQL_CREF_LEVEL, &refs);
    bool groupingOnly = true;
    for (bool r = refs.First(); r && groupingOnly; r = refs.Next()) {
      int p = refs.GetCurrent()->GetColumnId();
      groupingOnly = p >= 0 && p < static_cast<int>(map.size()) && map[static_cast<size_t>(p)] != -1;
    }
    // Without grouping columns there is always one group, even when every
    // row is filtered out, so nothing may move below the group then.
    if (!groupingOnly || groupingColumns_->NrElements() == 0) {
      rest.push_back(std::move(conjunct));
      continue;
    }
    for (bool r = refs.First(); r; r = refs.Next()) {
      SQLRSSCColumnRef *ref = refs.GetCurrent();
      ref->SetColumnId(map[static_cast<size_t>(ref->GetColumnId())]);
    }
    below.push_back(std::move(conjunct));
  }

  auto combine = [](std::vector<SQLRSSCSearchCondPtr> &parts) -> SQLRSSCSearchCond * {
    if (parts.empty()) return nullptr;
    if (parts.size() == 1) return parts.front().release();
    pSQLRSSCSearchCondList list;
    for (auto &p : parts) list.Append(p.release());
    return new SQLRSSCAnd(&list);
  };
  *residual = combine(rest);
  if (SQLRSSCSearchCond *down = combine(below)) {
    SQLRSSCSearchCond *left = nullptr;
    child_.reset(child_.release()->PushFilter(down, &left));
    if (left) filter_.reset(filter_ ? new SQLRSSCAnd(filter_.release(), left) : left);
  }
  return this;
}

bool SQLRSGroup::PushSort(SQLSortSpecList *specifications) {
  std::vector<int> map;
  for (bool more = specs_->First(); more; more = specs_->Next()) {
    SQLRSGroupSpec const &spec = specs_->GetCurrent();
    map.push_back(spec.GetKind() == SQLRSGroupSpec::kGroupingColumn ? spec.GetColumn() : -1);
  }
  for (bool more = specifications->First(); more; more = specifications->Next()) {
    int p = specifications->GetCurrent().GetColumnId();
    if (p < 0 || p >= static_cast<int>(map.size()) || map[static_cast<size_t>(p)] == -1) return false;
  }
  auto columns = std::make_unique<intList>();
  auto sort = std::make_unique<SQLSortSpecList>();
  std::vector<int> old;
  for (bool more = groupingColumns_->First(); more; more = groupingColumns_->Next())
    old.push_back(groupingColumns_->GetCurrent());
  for (bool more = specifications->First(); more; more = specifications->Next()) {
    SQLSortSpec const &spec = specifications->GetCurrent();
    int column = map[static_cast<size_t>(spec.GetColumnId())];
    bool seen = false;  // a column ordered twice keeps its first direction
    for (bool c = columns->First(); c && !seen; c = columns->Next()) seen = columns->GetCurrent() == column;
    if (seen) continue;
    columns->Append(column);
    sort->Append(SQLSortSpec(column, spec.GetDirection()));
    old.erase(std::remove(old.begin(), old.end(), column), old.end());
  }
  for (int column : old) columns->Append(column);
  groupingColumns_ = std::move(columns);
  sort_ = std::move(sort);
  delete specifications;  // taken over
  return true;
}

SQLRowSource *SQLRSGroup::PushProject(SQLRSSCValueExprRefPtrList *expressions) {
  if (outputDescriptors_.empty()) CreateOutputColumnDescriptors();
  std::vector<SQLRSGroupSpec> work;
  for (bool more = specs_->First(); more; more = specs_->Next()) work.push_back(specs_->GetCurrent());
  std::vector<SQLColumnDescriptor> formerDescriptors = outputDescriptors_;
  int numSpecs = static_cast<int>(work.size());

  // The output positions read above, in the order of the offer: the first
  // new position of each entry takes its place, further ones follow at the
  // end, entries without a new position go.
  std::vector<bool> needed(work.size(), false);
  std::vector<int> firsts, extras;
  for (bool more = expressions->First(); more; more = expressions->Next()) {
    pSQLRSSCColumnRefList refs;
    expressions->GetCurrent()->GetColumnRefs(0, SQL_CREF_LEVEL, &refs);
    bool first = true;
    for (bool r = refs.First(); r; r = refs.Next()) {
      int p = refs.GetCurrent()->GetColumnId();
      if (p < 0 || p >= numSpecs)
        SQLAbort(__FILE__, __LINE__, "Column %d outside the %d columns of a group", p, numSpecs);
      if (needed[static_cast<size_t>(p)]) continue;
      needed[static_cast<size_t>(p)] = true;
      (first ? firsts : extras).push_back(p);
      first = false;
    }
  }
  std::vector<int> order = firsts;
  order.insert(order.end(), extras.begin(), extras.end());

  // What the group reads of its child, each column once.
  std::vector<int> childColumns;
  auto need = [&childColumns](int c) {
    if (std::find(childColumns.begin(), childColumns.end(), c) == childColumns.end()) childColumns.push_back(c);
  };
  auto argumentRefs = [](SQLRSGroupSpec const &spec, pSQLRSSCColumnRefList *refs) {
    if (spec.GetKind() == SQLRSGroupSpec::kSetFunction) spec.GetExpression()->GetColumnRefs(0, SQL_CREF_LEVEL, refs);
  };
  for (int p = 0; p < numSpecs; ++p) {
    if (!needed[static_cast<size_t>(p)]) continue;
    SQLRSGroupSpec const &spec = work[static_cast<size_t>(p)];
    if (spec.GetKind() == SQLRSGroupSpec::kGroupingColumn) need(spec.GetColumn());
    pSQLRSSCColumnRefList refs;
    argumentRefs(spec, &refs);
    for (bool r = refs.First(); r; r = refs.Next()) need(refs.GetCurrent()->GetColumnId());
  }
  for (bool more = groupingColumns_->First(); more; more = groupingColumns_->Next()) need(groupingColumns_->GetCurrent());
  pSQLRSSCColumnRefList filterRefs;
  if (filter_) filter_->GetColumnRefs(0, SQL_CREF_LEVEL, &filterRefs);
  for (bool r = filterRefs.First(); r; r = filterRefs.Next()) need(filterRefs.GetCurrent()->GetColumnId());

  SQLRSSCValueExprRefPtrList childOffer;
  for (int c : childColumns)
    childOffer.Append(RefPtr<SQLRSSCValueExpr>(new SQLRSSCColumnRef(0, c, child_->GetColumnDescriptor(c))));
  child_.reset(child_.release()->PushProject(&childOffer));
  std::vector<int> newpos;
  int formerCount = 0;
  for (int c : childColumns) formerCount = std::max(formerCount, c + 1);
  newpos.assign(static_cast<size_t>(formerCount), -1);
  int j = 0;
  for (bool more = childOffer.First(); more; more = childOffer.Next(), ++j) {
    SQLRSSCValueExpr *e = childOffer.GetCurrent().Get();
    if (!e->IsColumnRef()) continue;
    auto *ref = static_cast<SQLRSSCColumnRef *>(e);
    int c = ref->GetColumnId();
    if (ref->GetRelScopeLevel() == 0 && c >= 0 && c < formerCount && newpos[static_cast<size_t>(c)] < 0)
      newpos[static_cast<size_t>(c)] = j;
  }
  auto renumber = [&newpos, formerCount](int c) {
    if (c < 0 || c >= formerCount || newpos[static_cast<size_t>(c)] < 0)
      SQLAbort(__FILE__, __LINE__, "Column %d of a group's input lost by the projection below it", c);
    return newpos[static_cast<size_t>(c)];
  };

  // The new spec list and the answer.
  *expressions = SQLRSSCValueExprRefPtrList();
  auto specs = std::make_unique<List<SQLRSGroupSpec>>();
  outputDescriptors_.clear();
  if (order.empty()) {
    // Nothing above reads the group, yet every group must still give a row.
    specs->Append(SQLRSGroupSpec::CountStar());
    outputDescriptors_.emplace_back("", SQL_INTEGER, 0, 1);
    expressions->Append(RefPtr<SQLRSSCValueExpr>(new SQLRSSCColumnRef(0, 0, &outputDescriptors_[0])));
  } else {
    for (int p : order) {
      SQLRSGroupSpec spec = work[static_cast<size_t>(p)];
      if (spec.GetKind() == SQLRSGroupSpec::kGroupingColumn) spec.SetColumn(renumber(spec.GetColumn()));
      specs->Append(spec);
      outputDescriptors_.push_back(formerDescriptors[static_cast<size_t>(p)]);
      expressions->Append(
          RefPtr<SQLRSSCValueExpr>(new SQLRSSCColumnRef(0, p, &formerDescriptors[static_cast<size_t>(p)])));
    }
    // An argument may be shared by several specs: renumber each one once.
    std::vector<SQLRSSCValueExpr const *> done;
    for (bool more = specs->First(); more; more = specs->Next()) {
      SQLRSGroupSpec const &spec = specs->GetCurrent();
      if (spec.GetKind() != SQLRSGroupSpec::kSetFunction) continue;
      if (std::find(done.begin(), done.end(), spec.GetExpression().Get()) != done.end()) continue;
      done.push_back(spec.GetExpression().Get());
      pSQLRSSCColumnRefList refs;
      argumentRefs(spec, &refs);
      for (bool r = refs.First(); r; r = refs.Next())
        refs.GetCurrent()->SetColumnId(renumber(refs.GetCurrent()->GetColumnId()));
    }
  }
  specs_ = std::move(specs);
  for (bool r = filterRefs.First(); r; r = filterRefs.Next())
    filterRefs.GetCurrent()->SetColumnId(renumber(filterRefs.GetCurrent()->GetColumnId()));
  auto columns = std::make_unique<intList>();
  for (bool more = groupingColumns_->First(); more; more = groupingColumns_->Next())
    columns->Append(renumber(groupingColumns_->GetCurrent()));
  groupingColumns_ = std::move(columns);
  if (sort_) {
    auto sort = std::make_unique<SQLSortSpecList>();
    for (bool more = sort_->First(); more; more = sort_->Next())
      sort->Append(SQLSortSpec(renumber(sort_->GetCurrent().GetColumnId()), sort_->GetCurrent().GetDirection()));
    sort_ = std::move(sort);
  }
  return this;
}

void SQLRSAppendGroupItems(SQLTokenString *ts, intList *groupingColumns, List<SQLRSGroupSpec> *specs, int level,
                           SQLRSNetFetchParams *params) {
  ts->AppendBs2(static_cast<std::int16_t>(groupingColumns->NrElements()));
  for (bool more = groupingColumns->First(); more; more = groupingColumns->Next())
    ts->AppendBs2(static_cast<std::int16_t>(groupingColumns->GetCurrent()));
  ts->AppendBs2(static_cast<std::int16_t>(specs->NrElements()));
  for (bool more = specs->First(); more; more = specs->Next()) {
    SQLRSGroupSpec const &spec = specs->GetCurrent();
    switch (spec.GetKind()) {
      case SQLRSGroupSpec::kGroupingColumn:
        ts->AppendToken(SQLNWTColumnId);
        ts->AppendBs2(static_cast<std::int16_t>(spec.GetColumn()));
        break;
      case SQLRSGroupSpec::kCountStar: ts->AppendToken(SQLNWTCountStar); break;
      default: {
        static constexpr SQLNWToken kTokens[] = {SQLNWTMin, SQLNWTMax, SQLNWTSum, SQLNWTAvg, SQLNWTCount};
        if (spec.GetFunction() < 0 || spec.GetFunction() > 4) SQLAbort(__FILE__, __LINE__, "Unexpected type");
        ts->AppendToken(kTokens[spec.GetFunction()]);
        spec.GetExpression()->createTokenString(ts, level, params);
      }
    }
  }
}

void SQLRSGroup::createTokenString(SQLTokenString *ts, int level, SQLRSNetFetchParams *params) {
  ts->AppendToken(SQLNWTRSGroup);
  SQLRSAppendGroupItems(ts, groupingColumns_.get(), specs_.get(), level, params);
  child_->createTokenString(ts, level, params);
}

// ---- descriptors and preparation ----

void SQLRSGroup::CreateOutputColumnDescriptors() {
  outputDescriptors_.clear();
  for (bool more = specs_->First(); more; more = specs_->Next()) {
    SQLRSGroupSpec const &spec = specs_->GetCurrent();
    switch (spec.GetKind()) {
      case SQLRSGroupSpec::kGroupingColumn:
        outputDescriptors_.push_back(*child_->GetColumnDescriptor(spec.GetColumn()));
        break;
      case SQLRSGroupSpec::kSetFunction:
        switch (spec.GetFunction()) {
          case SQLRSGroupSpec::kMin:
          case SQLRSGroupSpec::kMax:
          case SQLRSGroupSpec::kSum:
            outputDescriptors_.push_back(Nameless(spec.GetExpression()->GetColumnDescriptor()));
            break;
          case SQLRSGroupSpec::kAvg: outputDescriptors_.emplace_back("", SQL_REAL, 0, 1); break;
          case SQLRSGroupSpec::kCount: outputDescriptors_.emplace_back("", SQL_INTEGER, 0, 1); break;
          default: SQLAbort(__FILE__, __LINE__, "Unexpected type");
        }
        break;
      case SQLRSGroupSpec::kCountStar: outputDescriptors_.emplace_back("", SQL_INTEGER, 0, 1); break;
      default: SQLAbort(__FILE__, __LINE__, "Unexpected type %d", spec.GetKind());
    }
  }
}

SQLColumnDescriptor const *SQLRSGroup::DoGetColumnDescriptor(int column) {
  if (outputDescriptors_.empty()) CreateOutputColumnDescriptors();
  return &outputDescriptors_[static_cast<size_t>(column)];
}

void SQLRSGroup::DoPrepare(SQLRSPrepareContext *context) {
  child_->Prepare(context);
  if (outputDescriptors_.empty()) CreateOutputColumnDescriptors();
  output_ = std::vector<SQLValueStore>(static_cast<size_t>(specs_->NrElements()));
  for (size_t i = 0; i < output_.size(); ++i) SetTypedNull(&output_[i], outputDescriptors_[i].GetType());

  // The accumulators, in spec order; AVG gets a SUM and a COUNT.
  accumulators_.clear();
  std::vector<std::pair<int, int>> keyOutputs;  // (child column, output position)
  int position = 0;
  for (bool more = specs_->First(); more; more = specs_->Next(), ++position) {
    SQLRSGroupSpec const &spec = specs_->GetCurrent();
    Accumulator a;
    switch (spec.GetKind()) {
      case SQLRSGroupSpec::kGroupingColumn: keyOutputs.emplace_back(spec.GetColumn(), position); continue;
      case SQLRSGroupSpec::kCountStar:
        a.countStar = true;
        a.initial.SetInteger(0);
        accumulators_.push_back(std::move(a));
        continue;
      case SQLRSGroupSpec::kSetFunction: break;
      default: SQLAbort(__FILE__, __LINE__, "Unexpected type %d", spec.GetKind());
    }
    a.argument = spec.GetExpression();
    switch (spec.GetFunction()) {
      case SQLRSGroupSpec::kMin:
      case SQLRSGroupSpec::kMax:
      case SQLRSGroupSpec::kSum:
        a.function = spec.GetFunction();
        a.descriptor = Nameless(a.argument->GetColumnDescriptor());
        SetTypedNull(&a.initial, a.descriptor.GetType());
        accumulators_.push_back(std::move(a));
        break;
      case SQLRSGroupSpec::kAvg: {
        Accumulator count;
        count.function = SQLRSGroupSpec::kCount;
        count.argument = a.argument;
        count.initial.SetInteger(0);
        // The sum of an average is kept as REAL, the type of its buffer
        // column, so that it neither overflows at 32 bits nor mixes types.
        a.function = SQLRSGroupSpec::kSum;
        a.toReal = true;
        a.descriptor = SQLColumnDescriptor("", SQL_REAL, 0, 1);
        SetTypedNull(&a.initial, SQL_REAL);
        accumulators_.push_back(std::move(a));
        accumulators_.push_back(std::move(count));
        break;
      }
      case SQLRSGroupSpec::kCount:
        a.function = SQLRSGroupSpec::kCount;
        a.initial.SetInteger(0);
        accumulators_.push_back(std::move(a));
        break;
      default: SQLAbort(__FILE__, __LINE__, "Unexpected type");
    }
  }

  accumulatorDescriptors_.clear();
  for (Accumulator const &a : accumulators_) accumulatorDescriptors_.push_back(&a.descriptor);
  accumulatorBuffer_.reset();
  if (!accumulators_.empty() || filter_) {
    SQLRSScopedRow row(context->Scope(), child_.get());
    for (Accumulator &a : accumulators_)
      if (a.argument) a.value = a.argument->Prepare(context);
    if (filter_) filter_->Prepare(context);
  }
  if (!accumulators_.empty())
    accumulatorBuffer_ = std::make_unique<SQLVSBuffer>(static_cast<int>(accumulators_.size()),
                                                       accumulatorDescriptors_.data(), -1);
  working_ = std::vector<SQLValueStore>(accumulators_.size());
  workingRow_.clear();
  for (SQLValueStore const &w : working_) workingRow_.push_back(&w);

  keyIds_.clear();
  keyPositions_.clear();
  keyStores_.clear();
  keyDescriptors_.clear();
  for (bool more = groupingColumns_->First(); more; more = groupingColumns_->Next()) {
    int column = groupingColumns_->GetCurrent();
    if (column < 0 || column >= child_->GetNumCols())
      SQLAbort(__FILE__, __LINE__, "Grouping column %d outside the %d columns of the input", column,
               child_->GetNumCols());
    int out = -1;
    for (auto const &[c, p] : keyOutputs)
      if (c == column && out < 0) out = p;
    keyIds_.push_back(column);
    keyPositions_.push_back(out);
    keyStores_.push_back(child_->GetValueStoreAddr(column));
    keyDescriptors_.push_back(child_->GetColumnDescriptor(column));
  }
  keyBuffer_.reset();
  if (!keyIds_.empty())
    keyBuffer_ = std::make_unique<SQLVSBuffer>(static_cast<int>(keyIds_.size()), keyDescriptors_.data(), -1);

  context_.keys = keyBuffer_.get();
  context_.descending.assign(keyIds_.size(), false);
  if (sort_) {
    size_t i = 0;
    for (bool more = sort_->First(); more && i < keyIds_.size(); more = sort_->Next(), ++i)
      context_.descending[i] = sort_->GetCurrent().IsDescending();
  }
  groups_ = std::make_unique<SQLVSBufferIdKeySQLVSBufferIdArray>(GroupKeyCompare, &context_);
  stepper_ = std::make_unique<SQLVSBufferIdKeySQLVSBufferIdArraystepper>(groups_.get());
}

// ---- execution ----

int SQLRSGroup::GroupKeyCompare(SQLVSBufferId const &a, SQLVSBufferId const &b, void *context) {
  KeyContext *keys = static_cast<KeyContext *>(context);
  size_t n = keys->descending.size();
  if (n == 0) return 0;
  // A probe (external id) reads the child's cells directly; two buffer rows
  // fit the key buffer's cache together.
  SQLValueStore const *const *pa = a.GetKind() == SQLVSBufferId::kExternal ? a.GetExternal() : nullptr;
  SQLValueStore const *const *pb = b.GetKind() == SQLVSBufferId::kExternal ? b.GetExternal() : nullptr;
  SQLValueStore const *ra = pa ? nullptr : keys->keys->GetForRead(a);
  SQLValueStore const *rb = pb ? nullptr : keys->keys->GetForRead(b);
  for (size_t i = 0; i < n; ++i) {
    SQLValueStore const *va = pa ? pa[i] : &ra[i];
    SQLValueStore const *vb = pb ? pb[i] : &rb[i];
    int c = CompareKeyValue(va, vb);
    if (keys->descending[i]) c = -c;
    if (c != 0) return c;
  }
  return 0;
}

void SQLRSGroup::ResetRun() {
  if (groups_) groups_->Empty();
  if (keyBuffer_) keyBuffer_->Empty();
  if (accumulatorBuffer_) accumulatorBuffer_->Empty();
}

void SQLRSGroup::DoExec() {
  // Groups of an execution that was not broken off must not reappear.
  ResetRun();
  firstFetch_ = true;
  if (filter_) filter_->Reset();
  child_->Exec();
}

void SQLRSGroup::Accumulate(SQLValueStore *row) {
  for (size_t i = 0; i < accumulators_.size(); ++i) {
    Accumulator &a = accumulators_[i];
    SQLValueStore *acc = &row[i];
    if (a.countStar) {
      scratch_.SetInteger(1);
      SQLValueStore sum;
      sum.Add(acc, &scratch_);
      acc->Copy(&sum);
      continue;
    }
    a.argument->Evaluate();
    SQLValueStore const *arg = a.value;
    if (arg->IsNull()) continue;
    if (a.function == SQLRSGroupSpec::kCount) {
      scratch_.SetInteger(1);
      SQLValueStore sum;
      sum.Add(acc, &scratch_);
      acc->Copy(&sum);
      continue;
    }
    SQLValueStore real;
    if (a.toReal) {
      real.SetReal(AsDouble(arg));
      arg = &real;
    }
    if (acc->IsNull()) {
      acc->Copy(arg);
      continue;
    }
    switch (a.function) {
      case SQLRSGroupSpec::kMin:
        if (SQLValueStore::Compare(arg, acc, SQL_COMP_LT) == TV_TRUE) acc->Copy(arg);
        break;
      case SQLRSGroupSpec::kMax:
        if (SQLValueStore::Compare(arg, acc, SQL_COMP_GT) == TV_TRUE) acc->Copy(arg);
        break;
      case SQLRSGroupSpec::kSum:
        scratch_.Add(arg, acc);  // "22003" when an INTEGER sum leaves 32 bits
        acc->Copy(&scratch_);
        break;
      default: SQLAbort(__FILE__, __LINE__, "Unexpected set funcion (AVG) in group buffer");
    }
  }
}

void SQLRSGroup::Aggregate() {
  auto startGroup = [this]() {
    for (size_t i = 0; i < working_.size(); ++i) working_[i].Copy(&accumulators_[i].initial);
  };
  ResetRun();
  bool grouped = !keyIds_.empty();
  SQLVSBufferId single;
  if (!grouped) {
    // Exactly one group, even for an empty input.
    startGroup();
    single = accumulatorBuffer_ ? accumulatorBuffer_->Write(workingRow_.data()) : SQLVSBufferId();
    groups_->Insert(SQLVSBufferId(), single);
  }
  SQLVSBufferId probe(keyStores_.data());
  while (child_->Fetch() == 1) {
    if (filter_ && filter_->Evaluate() != TV_TRUE) continue;
    if (!grouped) {
      if (accumulatorBuffer_) Accumulate(accumulatorBuffer_->GetForUpdate(single));
      continue;
    }
    SQLVSBufferId found;
    bool exists = true;
    try {
      found = groups_->Lookup(probe);
    } catch (SLExNotExists const &) {
      exists = false;
    }
    if (exists) {
      if (accumulatorBuffer_) {
        Accumulate(accumulatorBuffer_->GetForUpdate(found));
        accumulatorBuffer_->Release(found);
      }
      continue;
    }
    startGroup();
    Accumulate(working_.data());
    SQLVSBufferId key = keyBuffer_->Write(keyStores_.data());
    SQLVSBufferId value = accumulatorBuffer_ ? accumulatorBuffer_->Write(workingRow_.data()) : SQLVSBufferId();
    try {
      groups_->Insert(key, value);
    } catch (std::bad_alloc const &) {
      throw;
    } catch (...) {
      SQLAbort(__FILE__, __LINE__, "Unexpected exception");
    }
  }
  firstFetch_ = false;
}

int SQLRSGroup::DoFetch() {
  bool positioned;
  if (firstFetch_) {
    Aggregate();
    positioned = stepper_->First();
  } else {
    positioned = stepper_->Next();
  }
  if (!positioned) return 0;
  if (keyBuffer_) {
    SQLValueStore const *keys = keyBuffer_->GetForRead(stepper_->GetCurrentKey());
    for (size_t i = 0; i < keyIds_.size(); ++i)
      if (keyPositions_[i] >= 0) output_[static_cast<size_t>(keyPositions_[i])].Copy(&keys[i]);
    keyBuffer_->Release(stepper_->GetCurrentKey());
  }
  if (!accumulatorBuffer_) return 1;
  SQLValueStore const *acc = accumulatorBuffer_->GetForRead(stepper_->GetCurrentValue());
  size_t cursor = 0;
  size_t position = 0;
  for (bool more = specs_->First(); more; more = specs_->Next(), ++position) {
    SQLRSGroupSpec const &spec = specs_->GetCurrent();
    if (spec.GetKind() == SQLRSGroupSpec::kGroupingColumn) continue;
    SQLValueStore *out = &output_[position];
    if (spec.GetKind() == SQLRSGroupSpec::kSetFunction && spec.GetFunction() == SQLRSGroupSpec::kAvg) {
      SQLValueStore const *sum = &acc[cursor];
      SQLValueStore const *count = &acc[cursor + 1];
      cursor += 2;
      if (sum->IsNull() || count->GetInteger() == 0)
        SetTypedNull(out, SQL_REAL);
      else
        out->SetReal(AsDouble(sum) / AsDouble(count));
      continue;
    }
    out->Copy(&acc[cursor++]);
  }
  accumulatorBuffer_->Release(stepper_->GetCurrentValue());
  return 1;
}

void SQLRSGroup::DoBreak() {
  ResetRun();
  firstFetch_ = false;
  child_->Break();
}

void SQLRSGroup::DoLog() {
  SQLLogger &log = *SQLLogger::Instance();
  log << "SQLRSGroup(" << endl << incind << "Group Column Ids:";
  for (bool more = groupingColumns_->First(); more; more = groupingColumns_->Next())
    log << " " << groupingColumns_->GetCurrent();
  log << endl << "Sort Column Ids:" << endl << incind;
  if (sort_) {
    for (bool more = sort_->First(); more; more = sort_->Next()) {
      SQLSortSpec const &spec = sort_->GetCurrent();
      log << "SortSpec(" << spec.GetColumnId() << "," << (spec.IsDescending() ? "DESCENDING" : "ASCENDING")
          << ")" << endl;
    }
  }
  log << decind << "Group Specifications:" << endl << incind;
  for (bool more = specs_->First(); more; more = specs_->Next()) specs_->GetCurrent().Log();
  log << decind;
  if (filter_) {
    log << "Row filter:" << endl << incind;
    filter_->Log();
    log << decind;
  }
  log << "Child: ";
  child_->Log();
  log << decind << ")" << endl;
}

void SQLRSGroup::DoAcceptVisit(SQLVisitor &visitor) {
  child_->AcceptVisit(visitor);
  for (bool more = specs_->First(); more; more = specs_->Next()) {
    SQLRSGroupSpec const &spec = specs_->GetCurrent();
    if (spec.GetKind() == SQLRSGroupSpec::kSetFunction) spec.GetExpression()->AcceptVisit(visitor);
  }
  if (filter_) filter_->AcceptVisit(visitor);
  visitor.VisitSQLRSGroup(this);
  SQLRSEndUnaryVisit(visitor, this);
}
